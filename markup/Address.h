#pragma once
// The address helpers of the host window: canonical form, validation before navigation,
// and comparison (to recognise the page being loaded or the one that failed).

#include "platform/com/Bstr.h"
#include "platform/com/HResult.h"

namespace norv::markup {

// ERROR_BAD_PATHNAME as an HRESULT: the address is too short or stays relative.
constexpr com::HRESULT E_BAD_PATHNAME = com::hresult(0x800700A1);
// ERROR_INTERNET_INVALID_URL as an HRESULT: the address cannot be parsed.
constexpr com::HRESULT E_INVALID_URL = com::hresult(0x80072EE5);

// The canonical form of an address: an absolute file path ("/...") becomes a file URL,
// dot segments are removed, spaces are encoded, scheme and host become lower case (a host
// in another script takes its ASCII form; encoded reserved characters stay encoded, so the
// host is the one the address named).
// S_FALSE with `canonical` set is the normal success; E_INVALIDARG for an absent address;
// E_BAD_PATHNAME when the address has two characters or fewer (after its first colon) or
// its canonical form is relative, holds "./" or ".\" or is that short itself (`canonical`
// is still set); a successful canonical form canonicalises to itself;
// E_INVALID_URL when the text is no URL.
com::HRESULT canonicalise(const com::Bstr& address, com::Bstr& canonical);

// The failure of canonicalise; otherwise S_OK for an absolute URI with a scheme and
// S_FALSE for anything else.
com::HRESULT validate(const com::Bstr& address);

// True when both addresses are absent or both canonicalise to the same address, the
// fragment ignored; file and res addresses compare without regard to case.
bool sameAddress(const com::Bstr& a, const com::Bstr& b);

} // namespace norv::markup
