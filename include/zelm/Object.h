// Reference-counted object model of zelm: the root interface IBase, the
// counting base CReferencable, the common object base CObject and the
// holders P, PC and PFrail through which objects are passed.
#pragma once

#include <zelm/Export.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <typeinfo>
#include <utility>

namespace zelm {

class String;

// Root of every interface. Interfaces derive from it virtually, so an object
// carries exactly one IBase however many interfaces it implements.
class ZELM_API IBase {
public:
    virtual ~IBase() = default;
    virtual void addRef() const = 0;
    virtual void release() const = 0;
    virtual bool supports(std::uintptr_t a, std::uintptr_t b, std::uintptr_t c) const = 0;
    virtual String toString() const = 0;

protected:
    IBase() = default;
    IBase(const IBase&) = default;
    IBase& operator=(const IBase&) = default;
};

// Holds the reference count. A new object starts with the count 1; the
// release that brings it to zero destroys the object.
class ZELM_API CReferencable {
public:
    // The count an object carries while its destructor runs.
    static constexpr std::int32_t kDestroyingCount = -1000000;

    CReferencable() noexcept = default;
    // A copy is a new object and starts with its own single reference.
    CReferencable(const CReferencable&) noexcept {}
    CReferencable& operator=(const CReferencable&) noexcept { return *this; }
    virtual ~CReferencable() = default;

    virtual void addRef() const;
    virtual void release() const;
    // Deletes the object through its virtual destructor.
    virtual void destroy() const;

    std::int32_t getRefCount() const noexcept { return m_refCount.load(); }

protected:
    // For classes that recycle their objects instead of destroying them:
    // drops one reference and answers the count left, and gives a recycled
    // object its count again.
    std::int32_t dropReference() const noexcept {
        return m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    }
    void resetRefCount(std::int32_t count) const noexcept {
        m_refCount.store(count, std::memory_order_relaxed);
    }

private:
    mutable std::atomic<std::int32_t> m_refCount{1};
};

// Base of every concrete class: counting from CReferencable, the IBase
// operations implemented once for all.
class ZELM_API CObject : public CReferencable, public virtual IBase {
public:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;

    void addRef() const override;
    void release() const override;
    bool supports(std::uintptr_t a, std::uintptr_t b, std::uintptr_t c) const override;
    // "class n::C object" for an object whose most derived class is n::C.
    String toString() const override;
};

// The type name of an object's most derived class, as "class n::C".
ZELM_API String getClassName(const IBase& object);
// The name of a type, spelled the same way ("class n::C").
ZELM_API String getClassName(const std::type_info& type);

// Owning holder of one reference.
template <class T> class P {
public:
    P() noexcept = default;
    P(std::nullptr_t) noexcept {}
    // Takes over the single reference of a freshly constructed object.
    explicit P(T* fresh) noexcept : m_ptr(fresh) {}
    P(const P& other) noexcept : m_ptr(other.m_ptr) { retain(); }
    P(P&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    template <class U> P(const P<U>& other) noexcept : m_ptr(other.get()) { retain(); }
    template <class U> P(P<U>&& other) noexcept : m_ptr(other.detach()) {}
    ~P() { drop(); }

    // Adds a reference to an object that is already owned elsewhere.
    static P share(T* object) noexcept {
        P result(object);
        result.retain();
        return result;
    }

    P& operator=(const P& other) noexcept {
        assign(other.m_ptr);
        return *this;
    }
    P& operator=(P&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(m_ptr, std::exchange(other.m_ptr, nullptr));
            release(old);
        }
        return *this;
    }
    template <class U> P& operator=(const P<U>& other) noexcept {
        assign(other.get());
        return *this;
    }
    P& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    void reset() noexcept { release(std::exchange(m_ptr, nullptr)); }
    // Gives up the reference without releasing it.
    [[nodiscard]] T* detach() noexcept { return std::exchange(m_ptr, nullptr); }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }
    bool isNull() const noexcept { return m_ptr == nullptr; }

    // A holder of the same object as another interface or class, or an
    // empty holder when the object does not implement it.
    template <class U> static P dynamicCast(const P<U>& other) noexcept {
        return share(dynamic_cast<T*>(other.get()));
    }

    friend bool operator==(const P& a, const P& b) noexcept { return a.m_ptr == b.m_ptr; }
    friend bool operator==(const P& a, std::nullptr_t) noexcept { return a.m_ptr == nullptr; }

private:
    void retain() const noexcept {
        if (m_ptr != nullptr) {
            m_ptr->addRef();
        }
    }
    static void release(T* object) noexcept {
        if (object != nullptr) {
            object->release();
        }
    }
    void drop() noexcept { release(m_ptr); }
    void assign(T* object) noexcept {
        if (object != nullptr) {
            object->addRef();
        }
        release(std::exchange(m_ptr, object));
    }

    T* m_ptr = nullptr;
};

// Creates a T and holds its single reference.
template <class T, class... Args> P<T> makeP(Args&&... args) {
    return P<T>(new T(std::forward<Args>(args)...));
}

// Holder of one reference that exposes the object as constant.
template <class T> class PC {
public:
    PC() noexcept = default;
    PC(std::nullptr_t) noexcept {}
    explicit PC(const T* fresh) noexcept : m_ptr(fresh) {}
    PC(const PC& other) noexcept : m_ptr(other.m_ptr) { retain(); }
    PC(PC&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    template <class U> PC(const P<U>& other) noexcept : m_ptr(other.get()) { retain(); }
    template <class U> PC(P<U>&& other) noexcept : m_ptr(other.detach()) {}
    template <class U> PC(const PC<U>& other) noexcept : m_ptr(other.get()) { retain(); }
    ~PC() { reset(); }

    PC& operator=(const PC& other) noexcept {
        const T* object = other.m_ptr;
        if (object != nullptr) {
            object->addRef();
        }
        release(std::exchange(m_ptr, object));
        return *this;
    }
    PC& operator=(PC&& other) noexcept {
        if (this != &other) {
            release(std::exchange(m_ptr, std::exchange(other.m_ptr, nullptr)));
        }
        return *this;
    }

    void reset() noexcept { release(std::exchange(m_ptr, nullptr)); }

    const T* get() const noexcept { return m_ptr; }
    const T* operator->() const noexcept { return m_ptr; }
    const T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    friend bool operator==(const PC& a, const PC& b) noexcept { return a.m_ptr == b.m_ptr; }

private:
    void retain() const noexcept {
        if (m_ptr != nullptr) {
            m_ptr->addRef();
        }
    }
    static void release(const T* object) noexcept {
        if (object != nullptr) {
            object->release();
        }
    }

    const T* m_ptr = nullptr;
};

// Holder that owns a reference only while it is strong. A frail holder
// points at an object kept alive elsewhere (a parent, a cycle's owner) and
// never touches its count.
template <class T> class PFrail {
public:
    PFrail() noexcept = default;
    // A strong holder sharing the reference of a P.
    PFrail(const P<T>& owner) noexcept : m_ptr(owner.get()), m_strong(true) { retain(); }
    // A frail holder of an object owned elsewhere.
    static PFrail frail(T* object) noexcept {
        PFrail result;
        result.m_ptr = object;
        return result;
    }

    PFrail(const PFrail& other) noexcept : m_ptr(other.m_ptr), m_strong(other.m_strong) {
        retain();
    }
    PFrail(PFrail&& other) noexcept
        : m_ptr(std::exchange(other.m_ptr, nullptr)),
          m_strong(std::exchange(other.m_strong, false)) {}
    ~PFrail() { reset(); }

    PFrail& operator=(const PFrail& other) noexcept {
        PFrail copy(other);
        swap(copy);
        return *this;
    }
    PFrail& operator=(PFrail&& other) noexcept {
        PFrail moved(std::move(other));
        swap(moved);
        return *this;
    }

    void reset() noexcept {
        T* object = std::exchange(m_ptr, nullptr);
        if (std::exchange(m_strong, false) && object != nullptr) {
            object->release();
        }
    }
    void swap(PFrail& other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        std::swap(m_strong, other.m_strong);
    }

    bool isStrong() const noexcept { return m_strong; }
    // A P sharing the object (an empty P when the holder is empty).
    P<T> lock() const noexcept { return P<T>::share(m_ptr); }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

private:
    void retain() const noexcept {
        if (m_strong && m_ptr != nullptr) {
            m_ptr->addRef();
        }
    }

    T* m_ptr = nullptr;
    bool m_strong = false;
};

} // namespace zelm
