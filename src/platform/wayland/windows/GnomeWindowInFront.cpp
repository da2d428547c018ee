#include "platform/wayland/windows/GnomeWindowInFront.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <limits>

namespace platform {

namespace {

const QString kService = QString::fromLatin1(kGnomeExtensionService);
const QString kPath = QString::fromLatin1(kGnomeExtensionPath);
const QString kInterface = QString::fromLatin1(kGnomeExtensionInterface);

// A string value of the description, empty when absent or of another type.
std::string text(const QVariantMap& window, const char* key)
{
    const QVariant value = window.value(QLatin1String(key));
    return value.userType() == QMetaType::QString ? value.toString().toStdString() : std::string();
}

template <typename T> T number(const QVariantMap& window, const char* key, int type)
{
    const QVariant value = window.value(QLatin1String(key));
    return value.userType() == type ? value.value<T>() : T {};
}

// The dictionary a{sv} a message carries as its only argument.
bool readDescription(const QDBusMessage& message, QVariantMap& window)
{
    if (message.signature() != QLatin1String("a{sv}") || message.arguments().size() != 1)
        return false;
    const QVariant argument = message.arguments().constFirst();
    if (argument.canConvert<QDBusArgument>())
        window = qdbus_cast<QVariantMap>(argument.value<QDBusArgument>());
    else if (argument.userType() == QMetaType::QVariantMap)
        window = argument.toMap();
    else
        return false;
    return true;
}

} // namespace

std::string gnomeWindowClass(const QVariantMap& window)
{
    const std::string wmClass = text(window, "wm-class");
    if (number<bool>(window, "x11", QMetaType::Bool))
        return text(window, "wm-class-instance") + "." + wmClass;
    if (!wmClass.empty())
        return wmClass;
    std::string appId = text(window, "app-id");
    const std::string suffix = ".desktop";
    if (appId.size() > suffix.size() && appId.compare(appId.size() - suffix.size(), suffix.size(), suffix) == 0)
        appId.resize(appId.size() - suffix.size());
    return appId;
}

GnomeWindowInFront::GnomeWindowInFront(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , bus_(bus)
{
    if (!bus_.isConnected()) {
        state_ = State::Absent;
        return;
    }
    // Subscribed before asking, so no change is missed between the answer
    // and the subscription.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("Changed"), this, SLOT(onChanged(QDBusMessage)));
    auto* watcher = new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &GnomeWindowInFront::onOwnerChanged);
    ask();
}

GnomeWindowInFront::~GnomeWindowInFront()
{
    if (bus_.isConnected())
        bus_.disconnect(kService, kPath, kInterface, QStringLiteral("Changed"), this, SLOT(onChanged(QDBusMessage)));
}

void GnomeWindowInFront::ask()
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Get"));
    message.setAutoStartService(false);
    const quint64 question = ++generation_;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, question] {
        watcher->deleteLater();
        if (question != generation_)
            return;
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            // Not on the bus, not answering in time, or an object without
            // this interface: no window can be known from here. A change it
            // told meanwhile says it is there after all.
            if (state_ == State::Asking)
                forget(State::Absent);
            return;
        }
        if (!apply(reply))
            forget(State::NotUnderstood);
    });
}

void GnomeWindowInFront::onOwnerChanged(const QString&, const QString&, const QString& newOwner)
{
    // A new owner (the extension enabled again, the shell restarted) knows
    // nothing of what the old one told.
    forget(newOwner.isEmpty() ? State::Absent : State::Asking);
    if (!newOwner.isEmpty())
        ask();
}

// The extension's messages arrive in the order it sent them, so an answer
// that comes after a change is the newer news, and one before it the older.
void GnomeWindowInFront::onChanged(const QDBusMessage& message)
{
    apply(message);
}

bool GnomeWindowInFront::apply(const QDBusMessage& message)
{
    QVariantMap window;
    if (!readDescription(message, window))
        return false;
    state_ = State::Present;
    const ToplevelTracker::Clock::time_point now = ToplevelTracker::Clock::now();
    if (window.isEmpty()) { // nothing has the focus
        if (handle_ != 0)
            tracker_.setActivated(handle_, false, now);
        return true;
    }
    const auto id = number<qulonglong>(window, "id", QMetaType::ULongLong);
    if (handle_ == 0 || id != windowId_) {
        // What was in front is not known any longer; only the focused window is.
        if (handle_ != 0)
            tracker_.remove(handle_);
        handle_ = tracker_.add();
        windowId_ = id;
    }
    const auto pid = number<uint>(window, "pid", QMetaType::UInt);
    tracker_.setTitle(handle_, text(window, "title"));
    tracker_.setAppId(handle_, gnomeWindowClass(window));
    tracker_.setPid(handle_, pid <= static_cast<uint>(std::numeric_limits<int>::max()) ? static_cast<long>(pid) : 0);
    tracker_.setActivated(handle_, true, now);
    return true;
}

void GnomeWindowInFront::forget(State state)
{
    ++generation_;
    state_ = state;
    tracker_.clear();
    handle_ = 0;
    windowId_ = 0;
}

} // namespace platform
