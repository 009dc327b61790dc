// The process-wide registry of global service objects: each is created on
// first request and destroyed, in reverse order of creation, when the
// library unloads.
#pragma once

#include <zelm/Export.h>

#include <zelm/Object.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zelm {

// Keeps the P of one global object for the registry.
class ZELM_API IPtrHolder {
public:
    virtual ~IPtrHolder() = default;
    virtual void destroy() = 0;
    // Address of the P<T> that the holder keeps.
    virtual void* get() = 0;

protected:
    IPtrHolder() = default;
    IPtrHolder(const IPtrHolder&) = delete;
    IPtrHolder& operator=(const IPtrHolder&) = delete;
};

template <class T> class CPtrHolderImpl final : public IPtrHolder {
public:
    explicit CPtrHolderImpl(P<T> object) : m_cell(std::make_unique<P<T>>(std::move(object))) {}
    ~CPtrHolderImpl() override {
        m_cell->reset();
        m_cell.reset();
    }
    void destroy() override { delete this; }
    void* get() override { return m_cell.get(); }

private:
    std::unique_ptr<P<T>> m_cell;
};

class ZELM_API CGlobalObjFactory : public CObject {
public:
    CGlobalObjFactory() = default;
    CGlobalObjFactory(const CGlobalObjFactory&) = delete;
    CGlobalObjFactory& operator=(const CGlobalObjFactory&) = delete;
    // Destroys the global objects, last created first.
    ~CGlobalObjFactory() override;

    // The object registered under key (the address of the requesting type's
    // static marker), made by creator on the first request. The reference
    // count is not changed; callers copy the P to keep the object.
    template <class T, class Creator> P<T>& getGlobalObject(const void* key, Creator&& creator) {
        void* cell = findOrCreate(
            key, [&creator]() -> IPtrHolder* { return new CPtrHolderImpl<T>(P<T>(creator())); });
        return *static_cast<P<T>*>(cell);
    }

    int getObjectCount() const;

private:
    template <class F> void* findOrCreate(const void* key, F&& makeHolder) {
        if (void* cell = lookUp(key)) {
            return cell;
        }
        std::lock_guard creation(m_creationLock);
        if (find(key) == nullptr) {
            insert(key, makeHolder());
        }
        return lookUp(key);
    }
    void* lookUp(const void* key) const;
    IPtrHolder* find(const void* key) const;
    void insert(const void* key, IPtrHolder* holder);

    mutable std::recursive_mutex m_mapLock;
    std::recursive_mutex m_creationLock;
    std::map<const void*, IPtrHolder*> m_holders;
    std::vector<IPtrHolder*> m_creationOrder;
};

// The process-wide factory.
ZELM_API P<CGlobalObjFactory>& getGlobalObjFactory();

// Helper for service accessors: the global object of the marker's type.
template <class T, class Creator> P<T>& getGlobalObject(const void* marker, Creator&& creator) {
    return getGlobalObjFactory()->getGlobalObject<T>(marker, std::forward<Creator>(creator));
}

} // namespace zelm
