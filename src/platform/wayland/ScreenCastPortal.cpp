#include "platform/wayland/ScreenCastPortal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace platform::wayland {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

// Source type and cursor mode bits of the ScreenCast interface.
constexpr quint32 kMonitorSource = 1;
constexpr quint32 kCursorHidden = 1;
constexpr quint32 kCursorMetadata = 4;
constexpr quint32 kPersistUntilRevoked = 2;

bool readPair(const QVariant& value, int& a, int& b)
{
    if (!value.canConvert<QDBusArgument>())
        return false;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginStructure();
    argument >> a >> b;
    argument.endStructure();
    return true;
}

QVector<SharedMonitor> readStreams(const QVariant& value)
{
    QVector<SharedMonitor> result;
    if (!value.canConvert<QDBusArgument>())
        return result;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        SharedMonitor monitor;
        QVariantMap properties;
        argument.beginStructure();
        argument >> monitor.node >> properties;
        argument.endStructure();
        monitor.hasPosition = readPair(properties.value(QStringLiteral("position")), monitor.x, monitor.y);
        if (!readPair(properties.value(QStringLiteral("size")), monitor.width, monitor.height) || monitor.width <= 0
            || monitor.height <= 0)
            monitor.width = monitor.height = 0;
        result.append(monitor);
    }
    argument.endArray();
    return result;
}

QString callProblem(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownProperty:
        return QStringLiteral("No screen-sharing portal on this desktop: install xdg-desktop-portal and the "
                              "portal of your desktop, then press Start again.");
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return QStringLiteral("The screen-sharing portal did not answer. Press Start to try again.");
    default:
        return QStringLiteral("The screen-sharing portal failed: ") + error.message();
    }
}

} // namespace

ScreenCastPortal::ScreenCastPortal(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<SharedMonitor>();
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [this] {
        if (step != Step::Start) {
            fail(QStringLiteral("The screen-sharing portal did not answer. Press Start to try again."));
            return;
        }
        // The desktop's dialog may still be open: the request stays, so the
        // user can still answer it (close() leaves it alone), and the next
        // start() waits for that answer instead of asking again.
        emit failed(QStringLiteral("No answer came yet from the desktop's dialog to share the screen. Answer it, "
                                   "or press Start to wait for it again."),
            false);
    });
}

ScreenCastPortal::~ScreenCastPortal()
{
    close();
}

QString ScreenCastPortal::newToken(const char* prefix)
{
    return QStringLiteral("huelens_%1_%2_%3").arg(QLatin1String(prefix)).arg(getpid()).arg(++tokenCounter);
}

void ScreenCastPortal::start(const QString& token)
{
    if (chooserMayBeOpen()) {
        timer.start(dialogTimeout);
        return;
    }
    close();
    ++generation;
    restoreToken = token;
    retriedWithoutToken = false;
    monitors.clear();
    grantedToken.clear();
    if (!QDBusConnection::sessionBus().isConnected()) {
        fail(QStringLiteral("No D-Bus session bus: the screen cannot be shared with this program."));
        return;
    }
    requestProperties();
}

void ScreenCastPortal::watch(QDBusPendingCallWatcher* watcher, Step expected)
{
    const quint64 attempt = generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, expected, attempt] {
        watcher->deleteLater();
        if (attempt != generation || step != expected)
            return;
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            step = Step::Idle; // a call that failed opened no dialog
            fail(callProblem(QDBusError(reply)));
            return;
        }
        switch (expected) {
        case Step::Properties: {
            const QVariantMap properties = QDBusPendingReply<QVariantMap>(*watcher).value();
            version = properties.value(QStringLiteral("version")).toUInt();
            cursorModes = properties.value(QStringLiteral("AvailableCursorModes")).toUInt();
            if (!(properties.value(QStringLiteral("AvailableSourceTypes")).toUInt() & kMonitorSource)) {
                fail(QStringLiteral("The screen-sharing portal of this desktop cannot share monitors."));
                return;
            }
            createSession();
            return;
        }
        case Step::OpenRemote: {
            timer.stop();
            const QDBusUnixFileDescriptor descriptor = QDBusPendingReply<QDBusUnixFileDescriptor>(*watcher).value();
            const int fd = descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
            if (fd < 0) {
                fail(QStringLiteral("The screen-sharing portal gave no connection to PipeWire: is PipeWire running?"));
                return;
            }
            step = Step::Idle;
            emit started(fd, monitors, grantedToken, chosenCursorMode == kCursorMetadata);
            return;
        }
        default: {
            // A Request handle; older portals may not use the path we predicted.
            const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
            if (!path.isEmpty() && path != requestPath)
                listenForResponse(path);
            return;
        }
        }
    });
}

void ScreenCastPortal::requestProperties()
{
    step = Step::Properties;
    QDBusMessage message = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    message << kScreenCast;
    watch(new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, callTimeout), this),
        Step::Properties);
}

void ScreenCastPortal::listenForResponse(const QString& path)
{
    stopListening();
    requestPath = path;
    QDBusConnection::sessionBus().connect(
        QString(), requestPath, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
}

void ScreenCastPortal::stopListening()
{
    if (requestPath.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(
        QString(), requestPath, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    requestPath.clear();
}

void ScreenCastPortal::callRequest(
    Step next, const QString& method, const QList<QVariant>& arguments, const QString& handleToken)
{
    step = next;
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    listenForResponse(kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + handleToken);
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
    message.setArguments(arguments);
    watch(new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, callTimeout), this), next);
    timer.start(next == Step::Start ? dialogTimeout : callTimeout);
}

void ScreenCastPortal::createSession()
{
    const QString handle = newToken("request");
    const QVariantMap options { { QStringLiteral("handle_token"), handle },
        { QStringLiteral("session_handle_token"), newToken("session") } };
    callRequest(Step::CreateSession, QStringLiteral("CreateSession"), { options }, handle);
}

void ScreenCastPortal::selectSources()
{
    const QString handle = newToken("request");
    QVariantMap options { { QStringLiteral("handle_token"), handle },
        { QStringLiteral("types"), QVariant::fromValue<quint32>(kMonitorSource) },
        { QStringLiteral("multiple"), true } };
    chosenCursorMode = (cursorModes & kCursorMetadata) ? kCursorMetadata
        : (cursorModes & kCursorHidden)                ? kCursorHidden
                                                       : 0;
    if (chosenCursorMode != 0)
        options.insert(QStringLiteral("cursor_mode"), QVariant::fromValue<quint32>(chosenCursorMode));
    if (version >= 4) {
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue<quint32>(kPersistUntilRevoked));
        if (!restoreToken.isEmpty())
            options.insert(QStringLiteral("restore_token"), restoreToken);
    }
    callRequest(Step::SelectSources, QStringLiteral("SelectSources"),
        { QVariant::fromValue(QDBusObjectPath(sessionHandle)), options }, handle);
}

void ScreenCastPortal::startSession()
{
    const QString handle = newToken("request");
    const QVariantMap options { { QStringLiteral("handle_token"), handle } };
    callRequest(Step::Start, QStringLiteral("Start"),
        { QVariant::fromValue(QDBusObjectPath(sessionHandle)), QString(), options }, handle);
}

void ScreenCastPortal::openRemote()
{
    step = Step::OpenRemote;
    stopListening();
    QDBusMessage message
        = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, QStringLiteral("OpenPipeWireRemote"));
    message.setArguments({ QVariant::fromValue(QDBusObjectPath(sessionHandle)), QVariantMap() });
    watch(new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, callTimeout), this),
        Step::OpenRemote);
    timer.start(callTimeout);
}

void ScreenCastPortal::onResponse(uint response, const QVariantMap& results)
{
    const Step answered = step;
    if (answered != Step::CreateSession && answered != Step::SelectSources && answered != Step::Start)
        return;
    step = Step::Idle; // answered: no dialog is open any more
    timer.stop();
    stopListening();
    if (response == 1) {
        fail(QStringLiteral("Screen sharing was cancelled. Press Start to ask again."), true);
        return;
    }
    if (response != 0) {
        // A token the portal no longer honours (revoked, from another
        // desktop): ask again without it, once.
        if (!restoreToken.isEmpty() && !retriedWithoutToken && answered != Step::CreateSession) {
            retriedWithoutToken = true;
            restoreToken.clear();
            close();
            ++generation;
            createSession();
            return;
        }
        fail(QStringLiteral("The screen-sharing portal refused to share the screen. Press Start to ask again."));
        return;
    }
    switch (answered) {
    case Step::CreateSession:
        sessionHandle = results.value(QStringLiteral("session_handle")).toString();
        if (sessionHandle.isEmpty())
            sessionHandle = results.value(QStringLiteral("session_handle")).value<QDBusObjectPath>().path();
        if (sessionHandle.isEmpty()) {
            fail(QStringLiteral("The screen-sharing portal opened no session."));
            return;
        }
        QDBusConnection::sessionBus().connect(
            QString(), sessionHandle, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
        selectSources();
        return;
    case Step::SelectSources:
        startSession();
        return;
    case Step::Start:
        monitors = readStreams(results.value(QStringLiteral("streams")));
        grantedToken = results.value(QStringLiteral("restore_token")).toString();
        if (monitors.isEmpty()) {
            fail(QStringLiteral("No monitor was shared. Press Start to ask again."));
            return;
        }
        openRemote();
        return;
    default:
        return;
    }
}

void ScreenCastPortal::onSessionClosed()
{
    const bool wasActive = active();
    QDBusConnection::sessionBus().disconnect(
        QString(), sessionHandle, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
    sessionHandle.clear();
    if (wasActive)
        emit closed();
}

// While the desktop's dialog may be open, the request and the session stay:
// closing either then (or ending the program) makes xdg-desktop-portal-gnome
// 43 crash and take the dialog with it. The answer still arrives and is used
// as ever; a refusal then closes the session.
void ScreenCastPortal::close()
{
    timer.stop();
    if (chooserMayBeOpen())
        return;
    stopListening();
    step = Step::Idle;
    if (sessionHandle.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(
        QString(), sessionHandle, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
    const QDBusMessage message
        = QDBusMessage::createMethodCall(kService, sessionHandle, kSession, QStringLiteral("Close"));
    QDBusConnection::sessionBus().asyncCall(message, callTimeout);
    sessionHandle.clear();
}

void ScreenCastPortal::fail(const QString& message, bool cancelled)
{
    close();
    ++generation;
    emit failed(message, cancelled);
}

} // namespace platform::wayland
