// Entries that register themselves from their own files before main runs, the
// way a driver declares itself beside its code: nothing lists them by hand.
// Each program links the libraries that hold them whole, so that no entry is
// left out for want of a reference.
#pragma once

#include <vector>

namespace kj {

template <class Entry>
class Registry {
public:
    // Returns true, for a namespace-scope constant to hold.
    static bool add(const Entry& entry) {
        list().push_back(&entry);
        return true;
    }
    static const std::vector<const Entry*>& entries() { return list(); }

private:
    static std::vector<const Entry*>& list() {
        static std::vector<const Entry*> entries;
        return entries;
    }
};

}  // namespace kj

#define KJ_REGISTRY_JOIN2(a, b) a##b
#define KJ_REGISTRY_JOIN(a, b) KJ_REGISTRY_JOIN2(a, b)
// KJ_REGISTER(Entry, object): `object` (of static storage) joins Registry<Entry>.
#define KJ_REGISTER(Entry, object)                                                                            \
    namespace {                                                                                               \
    [[maybe_unused]] const bool KJ_REGISTRY_JOIN(kRegistered, __LINE__) = ::kj::Registry<Entry>::add(object); \
    }
