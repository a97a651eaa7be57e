#pragma once
// A native dispatch object for bridge tests: named properties and methods defined by the
// test, names matched without regard to case, and a count of live instances.

#include <functional>
#include <string>
#include <vector>

#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"

namespace norv::test {

class TestObject final : public com::ComObject<TestObject, com::IDispatch> {
public:
    // Arguments in call order.
    using Method =
        std::function<com::HRESULT(std::vector<com::Variant>& args, com::Variant* result)>;

    static int live;

    TestObject() { ++live; }
    ~TestObject() override { --live; }

    // A plain property holding a value.
    void property(std::u16string name, com::Variant initial = {});
    // A property whose getter runs `get`.
    void getter(std::u16string name, Method get);
    void method(std::u16string name, Method body);
    // What calling the object itself (DISPID 0) does.
    void defaultMethod(Method body) { default_ = std::move(body); }

    com::Variant& value(std::u16string_view name);

    com::HRESULT GetTypeInfoCount(std::uint32_t* count) override;
    com::HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo** out) override;
    com::HRESULT GetIDsOfNames(const com::IID&, std::span<const com::Bstr> names, com::LCID,
                               std::span<com::DISPID> ids) override;
    com::HRESULT Invoke(com::DISPID id, const com::IID&, com::LCID, std::uint16_t flags,
                        com::DispParams& params, com::Variant* result, com::ExcepInfo*,
                        std::uint32_t*) override;

private:
    struct Member {
        std::u16string name;
        bool isMethod = false;
        com::Variant value;
        Method body; // method, or getter of a property
    };
    std::vector<Member> members_;
    Method default_;
};

// Invokes DISPID 0 of `target` as a method with arguments in call order.
com::HRESULT callDefault(com::IDispatch* target, std::vector<com::Variant> args,
                         com::Variant* result, com::ExcepInfo* excep = nullptr);

} // namespace norv::test
