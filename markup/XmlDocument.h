#pragma once
// A thin owner of a libxml2 document: synchronous, namespace-aware parsing that reports
// the first error with its reason, line and column, and serialisation of the root element.
// Private to the markup library.

#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/HResult.h"
#include "platform/glib/Owned.h"

namespace norv::markup {

struct XmlParseError {
    std::string reason;
    int line = -1;
    int column = -1;
};

class XmlDocument {
public:
    // Parses UTF-8 text (its own encoding declaration is ignored). S_OK;
    // NORV_E_XMLNOTWELLFORMED with `error` filled when the text is not well-formed XML
    // (namespace errors included); E_OUTOFMEMORY.
    com::HRESULT load(std::string_view utf8, XmlParseError& error);

    // The root element, or null.
    xmlNode* root() const;

    // The root element as text (no XML declaration), UTF-8.
    std::optional<std::string> rootXml() const;

private:
    glib::Owned<xmlDoc, xmlFreeDoc> doc_;
};

// The attribute without namespace of that exact name, as UTF-8; nullopt when absent.
std::optional<std::string> xmlAttribute(const xmlNode* element, const char* name);

// Sets an attribute without namespace; false when it cannot be allocated.
bool setXmlAttribute(xmlNode* element, const char* name, std::string_view utf8);

// The first element below `under` (in document order, `under` itself excluded) whose
// name is exactly `name` without a prefix, whatever its namespace.
xmlNode* firstDescendant(const xmlNode* under, const char* name);

// The namespace URI of an element, or nullopt when it has none.
std::optional<std::string_view> namespaceOf(const xmlNode* element);

// The local name of an element.
std::string_view localNameOf(const xmlNode* element);

} // namespace norv::markup
