#include "app/TaviUISettings.h"

#include <new>

namespace norv::app {

TaviUISettings::TaviUISettings()
    : splashScreenURI_(com::Bstr::empty()), errorDialogURI_(com::Bstr::empty()),
      dialogSettingsDefault_(com::Bstr::empty()) {}

com::HRESULT TaviUISettings::get(const com::Bstr& field, com::Bstr* out) {
    if (out == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    try {
        *out = field;
    } catch (const std::bad_alloc&) {
        return com::E_OUTOFMEMORY;
    }
    return com::S_OK;
}

com::HRESULT TaviUISettings::put(com::Bstr& field, const com::Bstr& value) {
    std::lock_guard lock(lock_);
    if (&field == &value)
        return com::S_OK;
    try {
        field = value;
    } catch (const std::bad_alloc&) {
        return com::E_OUTOFMEMORY;
    }
    return com::S_OK;
}

com::HRESULT TaviUISettings::get_splashScreenURI(com::Bstr* out) {
    return get(splashScreenURI_, out);
}
com::HRESULT TaviUISettings::put_splashScreenURI(const com::Bstr& value) {
    return put(splashScreenURI_, value);
}
com::HRESULT TaviUISettings::get_errorDialogURI(com::Bstr* out) {
    return get(errorDialogURI_, out);
}
com::HRESULT TaviUISettings::put_errorDialogURI(const com::Bstr& value) {
    return put(errorDialogURI_, value);
}
com::HRESULT TaviUISettings::get_dialogSettingsDefault(com::Bstr* out) {
    return get(dialogSettingsDefault_, out);
}
com::HRESULT TaviUISettings::put_dialogSettingsDefault(const com::Bstr& value) {
    return put(dialogSettingsDefault_, value);
}

} // namespace norv::app
