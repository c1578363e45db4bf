// The LiveKit client FFI library, loaded at run time: serialised requests in,
// responses out, and events on the library's own threads, routed to whoever
// registered for their handle or their async id.
#pragma once

#include "ffi.pb.h"

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace livekit::ffi {

class Client
{
public:
    // The loaded and initialised library, shared by everything that uses it;
    // null (with the reason in *error) when it cannot be loaded.
    static std::shared_ptr<Client> acquire(std::string *error);
    // Whether the library and its stub are where acquire() looks, without
    // loading them.
    static bool installed();
    ~Client();

    // Blocking call into the library; empty when it refused the request.
    std::optional<proto::FfiResponse> request(const proto::FfiRequest &request);
    // Frees a handle the library gave out.
    void dropHandle(std::uint64_t handle);

    // An id for a request's "request_async_id"; the callback carrying it is
    // handed to the future.
    std::uint64_t nextAsyncId();
    std::future<proto::FfiEvent> expect(std::uint64_t asyncId);
    void forget(std::uint64_t asyncId);

    // Events about a room or an audio stream go to the listener registered
    // for that handle; the listener runs on the library's thread.
    using Listener = std::function<void(const proto::FfiEvent &)>;
    void listen(std::uint64_t handle, Listener listener);
    void unlisten(std::uint64_t handle);

    // Capture callbacks that reported a failure, for the pacing checks.
    std::uint64_t captureFailures() const;

private:
    Client() = default;
    static void onEvent(const std::uint8_t *data, std::size_t size);
    void dispatch(const proto::FfiEvent &event);

    using InitializeFn = void (*)(void (*)(const std::uint8_t *, std::size_t), bool, const char *, const char *);
    using RequestFn = std::uint64_t (*)(const std::uint8_t *, std::size_t, const std::uint8_t **, std::size_t *);
    using DropFn = bool (*)(std::uint64_t);

    RequestFn m_request = nullptr;
    DropFn m_drop = nullptr;

    mutable std::mutex m_mutex;
    std::uint64_t m_nextAsyncId = 1;
    std::map<std::uint64_t, std::promise<proto::FfiEvent>> m_waiters;
    std::map<std::uint64_t, std::shared_ptr<Listener>> m_listeners;
    std::uint64_t m_captureFailures = 0;
};

} // namespace livekit::ffi
