#include "app/command_line.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cmath>
#include <cstdio>

#include "app/capture_command.h"
#include "app/command_args.h"
#include "app/record_command.h"
#include "app/repair_command.h"

namespace {

const char kDescription[] =
    "Records a region of the screen to an AVI file (Xvid) and takes still captures (BMP).\n"
    "Without options it opens the capture window and lives in the notification area; a\n"
    "second start brings the running capture window forward. From any program,\n"
    "Ctrl+Shift+F3 records and stops, Ctrl+Shift+F4 saves a still, Ctrl+Shift+F9 pauses.\n"
    "GEOMETRY is an X11 geometry WIDTHxHEIGHT+X+Y (for example 640x480+100+50; -X and -Y\n"
    "count from the right and bottom screen edges). Files are never overwritten: a taken\n"
    "name gets _2, _3, ... before its extension.\n"
    "SIGINT, SIGTERM, SIGHUP and SIGQUIT end the program or a --record, finishing the\n"
    "recording. Exit status: 0 on success, 1 when the command failed, 2 for options that\n"
    "are not understood.";
// Recordings longer than a day are refused as a typing error.
constexpr double kMaxDurationSeconds = 24 * 60 * 60;

struct COptions {
    QCommandLineOption help{{"h", "help"}, "Show this help and exit."};
    QCommandLineOption version{{"v", "version"}, "Show the version and exit."};
    QCommandLineOption capture{
        "capture", "Save one still of the screen region GEOMETRY as a BMP file, without a window.",
        "GEOMETRY"};
    QCommandLineOption record{"record",
                              "Record the screen region GEOMETRY for --duration seconds (or "
                              "until SIGINT/SIGTERM) to an AVI file, without a window.",
                              "GEOMETRY"};
    QCommandLineOption duration{"duration", "Length of a --record recording in seconds.",
                                "SECONDS"};
    QCommandLineOption output{"output",
                              "File or existing folder for --capture or --record (default: the "
                              "output folder, with the names F3 and F4 use).",
                              "FILE|DIR"};
    QCommandLineOption cursor{"cursor", "Draw the mouse pointer into the still or recording."};
    QCommandLineOption audio{"audio",
                             "Sound for --record: none (the default), desktop (what the "
                             "default output plays), mic (the default input) or both.",
                             "SOURCE"};
    QCommandLineOption repair{"repair",
                              "Finish an AVI recording that was interrupted (power loss, crash) "
                              "so that players read all of it.",
                              "FILE"};

    void AddTo(QCommandLineParser& parser) {
        parser.addOptions(
            {help, version, capture, record, duration, output, cursor, audio, repair});
    }
};

std::string Bytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

CCommandLine Invalid(const QString& error) {
    CCommandLine result;
    result.mode = CCommandLine::Mode::Invalid;
    result.error = error.toStdString();
    return result;
}

// Why --output cannot name what a command writes; empty when it can. A recording is written
// in place and finished by seeking back, and a file's format follows the command, never the
// name, so a name that promises another format is refused.
QString OutputProblem(const QString& output, bool recording) {
    if (output.isEmpty()) {
        return QStringLiteral("--output needs a file or folder name");
    }
    if (output == QLatin1String("-")) {
        return recording ? QStringLiteral(
                               "--output -: a recording needs a file it can seek in, "
                               "not standard output")
                         : QStringLiteral(
                               "--output -: a still is written to a file, not to "
                               "standard output");
    }
    const QFileInfo info(output);
    const QString suffix = info.suffix().toLower();
    const QStringList supported = recording
                                      ? QStringList{QStringLiteral("avi")}
                                      : QStringList{QStringLiteral("bmp"), QStringLiteral("png"),
                                                    QStringLiteral("jpg"), QStringLiteral("jpeg")};
    // A recording is an AVI file whatever its name; a still's format comes from its name.
    const bool unnamedFormat = !info.fileName().contains(QLatin1Char('.'));
    if (info.isDir() || supported.contains(suffix) || (recording && unnamedFormat)) {
        return QString();
    }
    return QStringLiteral("--output %1: %2 writes %3 files (.%4)")
        .arg(output, recording ? QStringLiteral("--record") : QStringLiteral("--capture"),
             recording ? QStringLiteral("AVI") : QStringLiteral("BMP, PNG or JPEG"),
             supported.join(QStringLiteral(", .")));
}

// The options beside the mode that it does not take, by name ("--duration"); empty if none.
QString StrayOption(const QCommandLineParser& parser, const QStringList& allowed) {
    for (const QString& name : parser.optionNames()) {
        if (!allowed.contains(name)) {
            return QStringLiteral("--") + name;
        }
    }
    return QString();
}

CCommandLine Interpret(const QCommandLineParser& parser, const COptions& o) {
    if (!parser.positionalArguments().isEmpty()) {
        return Invalid(QStringLiteral("unexpected argument '%1'")
                           .arg(parser.positionalArguments().constFirst()));
    }
    CCommandLine result;
    QStringList allowed;
    if (parser.isSet(o.help)) {
        result.mode = CCommandLine::Mode::Help;
        return result;  // --help wins over everything else, as usual
    }
    if (parser.isSet(o.version)) {
        result.mode = CCommandLine::Mode::Version;
        allowed = o.version.names();
    } else if (parser.isSet(o.capture) && parser.isSet(o.record)) {
        return Invalid(QStringLiteral("--capture and --record cannot be used together"));
    } else if (parser.isSet(o.capture) || parser.isSet(o.record)) {
        const bool recording = parser.isSet(o.record);
        result.mode = recording ? CCommandLine::Mode::Record : CCommandLine::Mode::Capture;
        const QString geometry = parser.value(recording ? o.record : o.capture);
        std::string error;
        CGeometry parsed;
        if (!ParseGeometry(geometry.toStdString(), &parsed, &error)) {
            return Invalid(QString::fromStdString(error));
        }
        result.geometry = geometry.toStdString();
        result.output = Bytes(parser.value(o.output));
        if (parser.isSet(o.output)) {
            const QString problem = OutputProblem(parser.value(o.output), recording);
            if (!problem.isEmpty()) {
                return Invalid(problem);
            }
        }
        result.cursor = parser.isSet(o.cursor);
        allowed = (recording ? o.record : o.capture).names() + o.output.names() + o.cursor.names();
        if (recording) {
            if (!parser.isSet(o.duration)) {
                return Invalid(QStringLiteral("--record needs --duration SECONDS"));
            }
            bool number = false;
            result.durationSeconds = parser.value(o.duration).toDouble(&number);
            if (!number || !std::isfinite(result.durationSeconds) || result.durationSeconds <= 0 ||
                result.durationSeconds > kMaxDurationSeconds) {
                return Invalid(QStringLiteral("--duration needs a number of seconds above 0 and "
                                              "at most %1, not '%2'")
                                   .arg(kMaxDurationSeconds)
                                   .arg(parser.value(o.duration)));
            }
            if (parser.isSet(o.audio) &&
                !ParseAudioChoice(parser.value(o.audio).toStdString(), &result.audio)) {
                return Invalid(QStringLiteral("--audio needs none, desktop, mic or both, not '%1'")
                                   .arg(parser.value(o.audio)));
            }
            allowed += o.duration.names() + o.audio.names();
        }
    } else if (parser.isSet(o.repair)) {
        result.mode = CCommandLine::Mode::Repair;
        result.repairPath = Bytes(parser.value(o.repair));
        allowed = o.repair.names();
    }
    const QString stray = StrayOption(parser, allowed);
    if (!stray.isEmpty()) {
        return Invalid(result.mode == CCommandLine::Mode::Window
                           ? QStringLiteral("%1 needs --capture or --record").arg(stray)
                           : QStringLiteral("%1 cannot be used here").arg(stray));
    }
    return result;
}

}  // namespace

CCommandLine ParseCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QFile::decodeName(argv[i]);
    }
    QCommandLineParser parser;
    COptions options;
    options.AddTo(parser);
    if (!parser.parse(arguments)) {
        return Invalid(parser.errorText());
    }
    return Interpret(parser, options);
}

std::string UsageText() {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    COptions options;
    options.AddTo(parser);
    QString text = parser.helpText();
    // Without an application object the parser cannot know the program's name.
    text.replace(QStringLiteral("<executable_name>"), QStringLiteral("brintelshot"));
    return text.toStdString();
}

int RunCommandLine(const CCommandLine& commandLine) {
    switch (commandLine.mode) {
        case CCommandLine::Mode::Help:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case CCommandLine::Mode::Version:
            std::printf("BrintelShot %s\n", BRINTEL_VERSION);
            return 0;
        case CCommandLine::Mode::Capture:
            return RunCaptureCommand(commandLine);
        case CCommandLine::Mode::Record:
            return RunRecordCommand(commandLine);
        case CCommandLine::Mode::Repair:
            return RunRepairCommand(commandLine.repairPath);
        case CCommandLine::Mode::Invalid:
            std::fprintf(stderr,
                         "brintelshot: %s\nTry 'brintelshot --help' for more information.\n",
                         commandLine.error.c_str());
            return 2;
        case CCommandLine::Mode::Window:
            break;
    }
    return 2;
}
