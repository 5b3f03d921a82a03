#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Keys that act from anywhere on the desktop: each is grabbed on the X root window (XGrabKey
// on the toolkit's own connection), so the program that has the focus never sees it. A key
// works whatever the state of Caps Lock, Num Lock and Scroll Lock.
class CGlobalKeys : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    struct Binding {
        int command = 0;    // what the key does, reported with `pressed`
        QKeySequence keys;  // the first key combination is used
        QString what;       // for messages ("record/stop")
    };

    CGlobalKeys();
    ~CGlobalKeys() override;  // releases every grab

    // Grabs the bindings' keys. A key that is not a single known key with modifiers, or that
    // another program already holds, is left out; the texts returned describe each of them
    // ("Ctrl+Shift+F3 (record/stop) is held by another program"). Without an X11 display
    // nothing is grabbed and one text says so.
    QStringList Grab(const QList<Binding>& bindings);
    void Release();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void pressed(int command);

private:
    struct Grabbed {
        int command;
        unsigned int keycode;
        unsigned int modifiers;
    };

    QList<Grabbed> m_grabbed;
    QList<unsigned int> m_keysDown;  // grabbed keycodes whose press came and release has not
    unsigned int m_lockMasks = 0;    // Caps Lock, Num Lock and Scroll Lock modifier bits
};

// A key sequence from its text in the settings file ("Ctrl+Shift+F3"); fallback when the text
// is empty, and an empty sequence when the text names no key.
QKeySequence KeySequenceFromText(const QString& text, const QKeySequence& fallback);

// The X keysym name of a key ("F3", "Prior" for Page Up, "a" for the A key); empty when it has
// none.
QString KeysymName(Qt::Key key);
