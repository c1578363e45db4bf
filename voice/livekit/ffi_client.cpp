#include "voice/livekit/ffi_client.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtDebug>

#include <dlfcn.h>

namespace livekit::ffi {

namespace {

constexpr const char *kLibraryName = "rtc-node.linux-x64-gnu.node";
constexpr const char *kStubName = "libvelmor_napi_stub.so";

// Beside the program first (an installed copy), then where the build and the
// set-up script put them.
QString locate(const char *name, const char *builtPath)
{
    if (QCoreApplication::instance()) {
        const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromUtf8(name));
        if (QFileInfo::exists(beside))
            return beside;
    }
    return QString::fromUtf8(builtPath);
}

std::mutex g_clientMutex;
std::weak_ptr<Client> g_client;
// The library keeps one global callback: events are handed to the client
// alive at the time, if any.
std::weak_ptr<Client> g_current;
std::mutex g_currentMutex;

} // namespace

bool Client::installed()
{
    return QFileInfo::exists(locate(kStubName, VELMOR_NAPI_STUB_LIBRARY))
        && QFileInfo::exists(locate(kLibraryName, VELMOR_LIVEKIT_FFI_LIBRARY));
}

std::shared_ptr<Client> Client::acquire(std::string *error)
{
    std::lock_guard lock(g_clientMutex);
    if (auto existing = g_client.lock())
        return existing;

    static void *library = nullptr;
    if (!library) {
        const QString stub = locate(kStubName, VELMOR_NAPI_STUB_LIBRARY);
        const QString path = locate(kLibraryName, VELMOR_LIVEKIT_FFI_LIBRARY);
        if (!QFileInfo::exists(path)) {
            *error = "LiveKit library not installed: " + path.toStdString();
            return nullptr;
        }
        // The stand-ins for Node's functions must be global before the
        // library binds its symbols.
        if (!dlopen(QFile::encodeName(stub).constData(), RTLD_NOW | RTLD_GLOBAL)) {
            *error = std::string("cannot load ") + stub.toStdString() + ": " + dlerror();
            return nullptr;
        }
        library = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            *error = std::string("cannot load the LiveKit library: ") + dlerror();
            return nullptr;
        }
    }
    auto initialize = reinterpret_cast<InitializeFn>(dlsym(library, "livekit_ffi_initialize"));
    std::shared_ptr<Client> client(new Client);
    client->m_request = reinterpret_cast<RequestFn>(dlsym(library, "livekit_ffi_request"));
    client->m_drop = reinterpret_cast<DropFn>(dlsym(library, "livekit_ffi_drop_handle"));
    if (!initialize || !client->m_request || !client->m_drop) {
        *error = "the LiveKit library lacks its C entry points";
        return nullptr;
    }
    // Its async runtime would otherwise start a thread per core.
    if (qEnvironmentVariableIsEmpty("TOKIO_WORKER_THREADS"))
        qputenv("TOKIO_WORKER_THREADS", "2");
    {
        std::lock_guard current(g_currentMutex);
        g_current = client;
    }
    // The library's one-time setup: later clients (after a dispose) reuse it.
    static std::once_flag initialized;
    std::call_once(initialized, [&] { initialize(&Client::onEvent, true, "cpp", "0.12.73"); });
    g_client = client;
    return client;
}

// The library itself stays loaded and initialised until the process ends:
// a later client picks it up again.
Client::~Client() = default;

std::optional<proto::FfiResponse> Client::request(const proto::FfiRequest &request)
{
    const std::string bytes = request.SerializeAsString();
    const std::uint8_t *reply = nullptr;
    std::size_t replySize = 0;
    const std::uint64_t handle =
        m_request(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), &reply, &replySize);
    if (handle == 0)
        return std::nullopt;
    proto::FfiResponse response;
    const bool parsed = response.ParseFromArray(reply, int(replySize));
    m_drop(handle);
    if (!parsed)
        return std::nullopt;
    return response;
}

void Client::dropHandle(std::uint64_t handle)
{
    if (handle != 0)
        m_drop(handle);
}

std::uint64_t Client::nextAsyncId()
{
    std::lock_guard lock(m_mutex);
    // Far from the ids the library picks for itself.
    return (std::uint64_t(1) << 62) + m_nextAsyncId++;
}

std::future<proto::FfiEvent> Client::expect(std::uint64_t asyncId)
{
    std::lock_guard lock(m_mutex);
    return m_waiters[asyncId].get_future();
}

void Client::forget(std::uint64_t asyncId)
{
    std::lock_guard lock(m_mutex);
    m_waiters.erase(asyncId);
}

void Client::listen(std::uint64_t handle, Listener listener)
{
    std::lock_guard lock(m_mutex);
    m_listeners[handle] = std::make_shared<Listener>(std::move(listener));
}

void Client::unlisten(std::uint64_t handle)
{
    std::lock_guard lock(m_mutex);
    m_listeners.erase(handle);
}

std::uint64_t Client::captureFailures() const
{
    std::lock_guard lock(m_mutex);
    return m_captureFailures;
}

void Client::onEvent(const std::uint8_t *data, std::size_t size)
{
    // The bytes live only during this call: parse them into our own copy.
    proto::FfiEvent event;
    if (!event.ParseFromArray(data, int(size)))
        return;
    std::shared_ptr<Client> client;
    {
        std::lock_guard current(g_currentMutex);
        client = g_current.lock();
    }
    if (client)
        client->dispatch(event);
}

namespace {

std::optional<std::uint64_t> asyncIdOf(const proto::FfiEvent &event)
{
    switch (event.message_case()) {
    case proto::FfiEvent::kConnect: return event.connect().async_id();
    case proto::FfiEvent::kDisconnect: return event.disconnect().async_id();
    case proto::FfiEvent::kPublishTrack: return event.publish_track().async_id();
    case proto::FfiEvent::kDispose: return event.dispose().async_id();
    default: return std::nullopt;
    }
}

} // namespace

void Client::dispatch(const proto::FfiEvent &event)
{
    if (event.has_logs()) {
        for (const auto &record : event.logs().records())
            if (record.level() <= proto::LOG_WARN)
                qWarning().noquote() << "[VOICE] livekit" << QString::fromStdString(record.target())
                                     << QString::fromStdString(record.message());
        return;
    }
    if (event.has_panic()) {
        qCritical().noquote() << "[VOICE] livekit panic:" << QString::fromStdString(event.panic().message());
        return;
    }
    if (event.has_capture_audio_frame()) {
        if (event.capture_audio_frame().has_error()) {
            std::lock_guard lock(m_mutex);
            ++m_captureFailures;
        }
        return;
    }
    if (const auto asyncId = asyncIdOf(event)) {
        std::lock_guard lock(m_mutex);
        auto waiter = m_waiters.find(*asyncId);
        if (waiter != m_waiters.end()) {
            waiter->second.set_value(event);
            m_waiters.erase(waiter);
        }
        return;
    }
    std::uint64_t handle = 0;
    if (event.has_room_event())
        handle = event.room_event().room_handle();
    else if (event.has_audio_stream_event())
        handle = event.audio_stream_event().stream_handle();
    else
        return;
    std::shared_ptr<Listener> listener;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_listeners.find(handle);
        if (found != m_listeners.end())
            listener = found->second;
    }
    if (listener)
        (*listener)(event);
}

} // namespace livekit::ffi
