#include <zelm/GlobalObjFactory.h>

#include "platform/DebugOutput.h"
#include "platform/System.h"

#include <atomic>
#include <cstdlib>

namespace zelm {
namespace {

constexpr std::uint64_t kAliveMarker = 0x73df50893d92a405ULL;
constexpr std::uint64_t kDeadMarker = 0x84e0619a4ea3b516ULL;

// Taken while the factory is being made; exists from library load on.
std::mutex g_startLock;

// The factory and its life markers. Destroyed when the library unloads.
struct CFactoryHolder {
    P<CGlobalObjFactory> factory;
    std::atomic<std::uint64_t> alive{0};
    std::atomic<std::uint64_t> dead{0};

    // When making the factory fails, the exception leaves the holder
    // unmade and the next request tries again.
    CFactoryHolder() {
        std::lock_guard guard(g_startLock);
        alive.store(0);
        factory = makeP<CGlobalObjFactory>();
        alive.store(kAliveMarker);
    }
    CFactoryHolder(const CFactoryHolder&) = delete;
    CFactoryHolder& operator=(const CFactoryHolder&) = delete;
    ~CFactoryHolder() {
        alive.store(0);
        dead.store(kDeadMarker);
        factory.reset();
    }
};

// A request that the factory cannot serve is a misuse: it is signalled to
// an attached debugger and ends the process with a message.
[[noreturn]] void requestWithoutFactory(bool afterUnload) {
    platform::debugBreak();
    platform::outputDebugString(afterUnload ? L"zelm: a global object was requested after the "
                                              L"library's global objects were destroyed"
                                            : L"zelm: a global object was requested while the "
                                              L"global-object factory is not alive");
    std::abort();
}

} // namespace

CGlobalObjFactory::~CGlobalObjFactory() {
    std::lock_guard creation(m_creationLock);
    for (;;) {
        IPtrHolder* holder = nullptr;
        {
            std::lock_guard map(m_mapLock);
            if (m_creationOrder.empty()) {
                break;
            }
            holder = m_creationOrder.back();
            m_creationOrder.pop_back();
        }
        holder->destroy();
    }
    std::lock_guard map(m_mapLock);
    m_holders.clear();
}

int CGlobalObjFactory::getObjectCount() const {
    std::lock_guard map(m_mapLock);
    return static_cast<int>(m_creationOrder.size());
}

void* CGlobalObjFactory::lookUp(const void* key) const {
    std::lock_guard map(m_mapLock);
    IPtrHolder* holder = find(key);
    return holder != nullptr ? holder->get() : nullptr;
}

IPtrHolder* CGlobalObjFactory::find(const void* key) const {
    auto found = m_holders.find(key);
    return found != m_holders.end() ? found->second : nullptr;
}

void CGlobalObjFactory::insert(const void* key, IPtrHolder* holder) {
    std::lock_guard map(m_mapLock);
    m_creationOrder.push_back(holder);
    m_holders.emplace(key, holder);
}

P<CGlobalObjFactory>& getGlobalObjFactory() {
    static CFactoryHolder holder;
    if (holder.alive.load() != kAliveMarker) {
        requestWithoutFactory(holder.dead.load() == kDeadMarker);
    }
    return holder.factory;
}

} // namespace zelm
