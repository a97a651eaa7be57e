#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <stdexcept>
#include <thread>

#include "platform/com/Exceptions.h"

using namespace norv::com;

namespace {

constexpr IID iidMethod = guid("{343F5332-6876-431B-BF35-F4C7EE13832F}");

class ErrorsTest : public ::testing::Test {
protected:
    void SetUp() override { clearErrorInfo(); }
    void TearDown() override { clearErrorInfo(); }

    // Runs a throwing body through the guard and returns (HRESULT, published description).
    template <class Throw>
    std::pair<HRESULT, std::u16string> guarded(Throw&& thrower) {
        HRESULT hr = guard(iidMethod, [&]() -> HRESULT {
            thrower();
            return S_OK;
        });
        std::optional<ErrorInfo> info = takeErrorInfo();
        EXPECT_TRUE(info.has_value());
        if (!info)
            return {hr, u""};
        EXPECT_EQ(info->iid, iidMethod);
        return {hr, info->description.str()};
    }
};

TEST_F(ErrorsTest, GuardMapsEveryExceptionKind) {
    EXPECT_EQ(guarded([] { throw OleException(OLE_E_BLANK); }).first, OLE_E_BLANK);
    EXPECT_EQ(guarded([] { throw OleException(E_ACCESSDENIED, u"no"); }),
              std::make_pair(E_ACCESSDENIED, std::u16string(u"no")));
    EXPECT_EQ(guarded([] { throw DispatchException(u"The window is screen mode now."); }),
              std::make_pair(E_FAIL, std::u16string(u"The window is screen mode now.")));
    EXPECT_EQ(guarded([] { throw DispatchException(u"x", 1001); }).first, E_FAIL);
    EXPECT_EQ(guarded([] { throw DispatchException(u"x", 0); }).first, E_FAIL);
    EXPECT_EQ(guarded([] { throw DispatchException(u"x", DISP_E_TYPEMISMATCH); }).first,
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(guarded([] { throw MemoryException(); }).first, E_OUTOFMEMORY);
    EXPECT_EQ(guarded([] { throw std::bad_alloc(); }).first, E_OUTOFMEMORY);
    EXPECT_EQ(guarded([] { throw InvalidArgException(); }).first, E_INVALIDARG);
    EXPECT_EQ(guarded([] { throw NotSupportedException(); }).first, E_NOTIMPL);
    EXPECT_EQ(guarded([] { throw std::runtime_error("boom"); }),
              std::make_pair(E_FAIL, std::u16string(u"boom")));
    EXPECT_EQ(guarded([] { throw 5; }).first, E_FAIL);
}

TEST_F(ErrorsTest, GuardCutsDescriptionsTo256Characters) {
    std::u16string exact(256, u'a');
    EXPECT_EQ(guarded([&] { throw DispatchException(exact); }).second, exact);
    std::u16string longer = exact + u"bcdef";
    EXPECT_EQ(guarded([&] { throw DispatchException(longer); }).second, exact);
    // A surrogate pair across the limit is not split.
    std::u16string pair = std::u16string(255, u'a') + u"\U0001F3B5" + u"z";
    std::u16string cut = guarded([&] { throw DispatchException(pair); }).second;
    EXPECT_EQ(cut, std::u16string(255, u'a'));
}

TEST_F(ErrorsTest, GuardPassesResultsThroughAndLeavesErrorInfoAlone) {
    EXPECT_EQ(guard(iidMethod, [] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(guard(iidMethod, [] { return E_POINTER; }), E_POINTER);
    EXPECT_FALSE(peekErrorInfo().has_value());
}

TEST_F(ErrorsTest, ThrowIfFailedUsesTheCalleesDescription) {
    EXPECT_NO_THROW(throwIfFailed(S_FALSE));
    try {
        throwIfFailed(E_ACCESSDENIED);
        FAIL();
    } catch (const OleException& e) {
        EXPECT_EQ(e.hresult(), E_ACCESSDENIED);
        EXPECT_EQ(e.message(), u"Access is denied.");
    }
    setErrorInfo(IID_NULL, Bstr(u"The dialog is showing now."));
    try {
        throwIfFailed(E_FAIL);
        FAIL();
    } catch (const DispatchException& e) {
        EXPECT_EQ(e.message(), u"The dialog is showing now.");
        EXPECT_EQ(e.hresult(), E_FAIL);
    }
    EXPECT_FALSE(peekErrorInfo().has_value()); // taken by the throw
    EXPECT_THROW(throwIfFailed(E_OUTOFMEMORY), MemoryException);
    // Raised and caught again, an HRESULT keeps its value.
    EXPECT_EQ(guard(iidMethod, [] { return throwIfFailed(VFW_E_NOT_FOUND), S_OK; }),
              VFW_E_NOT_FOUND);
}

TEST_F(ErrorsTest, ErrorInfoIsPerThreadAndTakingClearsIt) {
    setErrorInfo(iidMethod, Bstr(u"mine"));
    std::optional<ErrorInfo> other{ErrorInfo{}};
    std::thread([&] { other = takeErrorInfo(); }).join();
    EXPECT_FALSE(other.has_value());
    ASSERT_TRUE(peekErrorInfo().has_value());
    EXPECT_EQ(takeErrorInfo()->description.str(), u"mine");
    EXPECT_FALSE(takeErrorInfo().has_value());
}

TEST(Errno, MapsToWin32Codes) {
    EXPECT_EQ(hresultFromErrno(0), S_OK);
    EXPECT_EQ(hresultFromErrno(ENOENT), hresult(0x80070002));
    EXPECT_EQ(hresultFromErrno(EACCES), E_ACCESSDENIED);
    EXPECT_EQ(hresultFromErrno(ENOMEM), hresult(0x80070008));
    EXPECT_EQ(hresultFromErrno(EINVAL), E_INVALIDARG);
    EXPECT_EQ(hresultFromErrno(ENOSPC), hresult(0x80070070));
    EXPECT_EQ(hresultFromErrno(EEXIST), hresult(0x80070050));
    // Unknown values still fail.
    EXPECT_EQ(hresultFromErrno(EPROTO), hresult(0x8007001F));
    errno = 0;
    EXPECT_TRUE(failed(hresultFromLastError()));
    EXPECT_EQ(hresultFromWin32(0x12345678), hresult(0x80075678));
}

} // namespace
