#pragma once
// NorvViewLib 1.0: the type library of every script-visible interface, compiled into the
// program. Nothing is registered anywhere; script calls work from these tables alone.

#include "typelib/EventInterfaces.h"
#include "typelib/NorvViewTypes.h"
#include "typelib/PlayerInterfaces.h"
#include "typelib/ShellInterfaces.h"

namespace norv::typelib {

constexpr GUID LIBID_NorvViewLib = guid("{41E779E3-07C3-46F0-AEE0-354490A27C53}");
constexpr std::uint16_t NorvViewLibMajor = 1;
constexpr std::uint16_t NorvViewLibMinor = 0;
// "No version given" when asking for a library.
constexpr std::uint16_t anyVersion = 0xFFFF;

// The library's description: name "NorvViewLib", help string "NorvView 1.0", every
// interface, the enumerations TaviWindowTypes and MPStreamType, the record _AMMediaType.
const TypeLibInfo& norvViewLibInfo();

// The library object (one per process).
HRESULT loadTypeLib(ITypeLib** out);

// Loads a library by identifier and version: NorvViewLib for its own identifier with
// version 1.0 or no version (both numbers anyVersion); any other library or version is
// not registered (TYPE_E_LIBNOTREGISTERED).
HRESULT loadRegTypeLib(const GUID& libid, std::uint16_t major, std::uint16_t minor, ITypeLib** out);

// The type information of one of the library's interfaces (TYPE_E_ELEMENTNOTFOUND for
// an identifier the library does not describe).
HRESULT getInterfaceTypeInfo(const IID& iid, ITypeInfo** out);

} // namespace norv::typelib
