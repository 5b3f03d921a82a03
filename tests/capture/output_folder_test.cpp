// The capture window's output folder on a real X display: a start directory that has been
// removed before the program read it, and F5 on a folder whose name is not UTF-8.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "capture/brintel_shot_dlg.h"
#include "capture/command_ids.h"
#include "test_support.h"

namespace {

// Runs the test in folder (its current directory) and goes back afterwards.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& folder) { m_ok = chdir(folder.c_str()) == 0; }
    ~CurrentDirectory() { m_ok = chdir(m_previous.c_str()) == 0; }
    bool ok() const { return m_ok; }

private:
    std::string m_previous = std::filesystem::current_path().string();
    bool m_ok = false;
};

std::vector<std::string> CapturesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind("Capture_", 0) == 0 ||
            entry.path().filename().string().rfind("Recode_", 0) == 0) {
            names.push_back(entry.path().string());
        }
    }
    return names;
}

}  // namespace

TEST(OutputFolderTest, RemovedStartDirectoryIsRefusedWithItsName) {
    TempDir dir;
    const std::string start = dir.path() + "/started-here";
    ASSERT_EQ(mkdir(start.c_str(), 0755), 0);
    CurrentDirectory here(start);
    ASSERT_TRUE(here.ok());
    ASSERT_EQ(rmdir(start.c_str()), 0);
    const std::vector<std::string> rootBefore = CapturesIn("/");

    CBrintelShotDlg dlg;
    dlg.setGeometry(100, 100, 1500, 300);  // room for the whole status text
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const std::string expected = "Output folder not found: " + start;
    const struct {
        int command;
        std::string caption;
    } cases[] = {{ID_CAPTURE, " Brintel Shot - Capture Failed: " + expected},
                 {ID_RECORD, " Brintel Shot - Recode Failed: " + expected},
                 {ID_OPEN_FOLDER, " Brintel Shot - " + expected}};
    for (const auto& c : cases) {
        dlg.OnToolCommand(c.command);
        EXPECT_FALSE(dlg.IsRecording());
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return dlg.LastCaptionText().toStdString() == c.caption;
        })) << dlg.LastCaptionText().toStdString();
    }
    EXPECT_EQ(CapturesIn("/"), rootBefore) << "a file went to the root folder";
    EXPECT_TRUE(CapturesIn(dir.path()).empty());
}

// The folder reaches the shell's opener (here a stand-in xdg-open that notes its argument) as
// a file URL that decodes to exactly the folder's bytes.
TEST(OutputFolderTest, F5OpensAFolderWhoseNameIsNotUtf8) {
    TempDir dir;
    const std::string folder = dir.path() + "/caf\xe9 \xff\xfe";
    const std::string bin = dir.path() + "/bin";
    const std::string noted = dir.path() + "/opened";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s' \"$1\" > '" << noted << "'\n";
    ASSERT_EQ(chmod((bin + "/xdg-open").c_str(), 0755), 0);
    setenv("PATH", (bin + ":" + std::getenv("PATH")).c_str(), 1);

    CurrentDirectory here(folder);
    ASSERT_TRUE(here.ok());
    CBrintelShotDlg dlg;
    dlg.OnToolCommand(ID_OPEN_FOLDER);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::error_code missing;
            return std::filesystem::file_size(noted, missing) > 0 && !missing;
        },
        10000))
        << "xdg-open was not run";
    QFile file(QString::fromStdString(noted));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray url = file.readAll();
    ASSERT_TRUE(url.startsWith("file://")) << url.toStdString();
    EXPECT_EQ(QByteArray::fromPercentEncoding(url.mid(7)).toStdString(), folder);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
