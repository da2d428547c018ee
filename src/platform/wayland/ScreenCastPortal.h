#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <QVector>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace platform::wayland {

// One monitor the user shared, as the portal describes it.
struct SharedMonitor {
    quint32 node = 0; // the PipeWire node of its stream
    bool hasPosition = false;
    int x = 0;
    int y = 0;
    int width = 0; // 0 when the portal gives no size
    int height = 0;
};

// A client of the desktop's screen-sharing portal
// (org.freedesktop.portal.ScreenCast): CreateSession, SelectSources (every
// monitor, the pointer as metadata where offered, permission kept with a
// restore token), Start and OpenPipeWireRemote. Every call is asynchronous
// and has a time limit, so the GUI thread never waits; the outcome arrives
// as one of the signals.
class ScreenCastPortal : public QObject {
    Q_OBJECT
public:
    explicit ScreenCastPortal(QObject* parent = nullptr);
    ~ScreenCastPortal() override;

    // Starts a new session (closing an earlier one); `token` is what an
    // earlier grant returned, empty for none. While an earlier request's
    // dialog may still be open, waits for its answer again instead.
    void start(const QString& token);
    // Closes the session (the portal stops the streams), except while the
    // desktop's dialog may be open: that request is left to be answered.
    void close();
    bool active() const { return !sessionHandle.isEmpty(); }
    // The portal was asked to start the session and has not answered: its
    // dialog may be open.
    bool chooserMayBeOpen() const { return step == Step::Start; }

    // Time limits: for a call to be answered, and for the user to answer
    // the portal's dialog. After the second, failed() tells the user, but
    // the request stays open: closing it would close the dialog under the
    // user (and makes xdg-desktop-portal-gnome 43 crash).
    int callTimeout = 10000;
    int dialogTimeout = 120000;

signals:
    // The user shared `monitors`; `fd` is a PipeWire remote the receiver owns.
    void started(
        int fd, const QVector<platform::wayland::SharedMonitor>& monitors, const QString& token, bool cursorMetadata);
    // The session could not be started; `message` says why, for the user.
    void failed(const QString& message, bool cancelled);
    // The portal closed the session (sharing revoked, the compositor went away).
    void closed();

private slots:
    void onResponse(uint response, const QVariantMap& results);
    void onSessionClosed();

private:
    enum class Step { Idle, Properties, CreateSession, SelectSources, Start, OpenRemote };

    void requestProperties();
    void createSession();
    void selectSources();
    void startSession();
    void openRemote();
    // Calls `method` on the portal and waits (without blocking) for its
    // Request's Response; `handleToken` is in `options`.
    void callRequest(Step step, const QString& method, const QList<QVariant>& arguments, const QString& handleToken);
    void watch(QDBusPendingCallWatcher* watcher, Step step);
    void fail(const QString& message, bool cancelled = false);
    void listenForResponse(const QString& path);
    void stopListening();
    QString newToken(const char* prefix);

    Step step = Step::Idle;
    QString requestPath;
    QString sessionHandle;
    QString restoreToken;
    bool retriedWithoutToken = false;
    quint32 version = 0;
    quint32 cursorModes = 0;
    quint32 chosenCursorMode = 0;
    QVector<SharedMonitor> monitors;
    QString grantedToken;
    QTimer timer;
    int tokenCounter = 0;
    quint64 generation = 0; // replies of an abandoned attempt are ignored
};

} // namespace platform::wayland

Q_DECLARE_METATYPE(platform::wayland::SharedMonitor)
