#include <zelm/Object.h>

#include <zelm/String.h>

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <string>
#include <typeinfo>

namespace zelm {
namespace {

std::string demangle(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(name);
}

} // namespace

void CReferencable::addRef() const {
    m_refCount.fetch_add(1, std::memory_order_relaxed);
}

void CReferencable::release() const {
    if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1 != 0) {
        return;
    }
    m_refCount.store(kDestroyingCount, std::memory_order_relaxed);
    destroy();
}

void CReferencable::destroy() const {
    delete this;
}

void CObject::addRef() const {
    CReferencable::addRef();
}

void CObject::release() const {
    CReferencable::release();
}

bool CObject::supports(std::uintptr_t, std::uintptr_t, std::uintptr_t) const {
    return true;
}

String CObject::toString() const {
    return getClassName(*this) + " object";
}

String getClassName(const IBase& object) {
    return getClassName(typeid(object));
}

String getClassName(const std::type_info& type) {
    return String::fromUTF8("class " + demangle(type.name()));
}

} // namespace zelm
