#include "markup/XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <mutex>

namespace norv::markup {

using namespace com;

namespace {

const xmlChar* xml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

std::string_view view(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

void initialiseParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// Keeps the first error of the parse (the one that made the text unusable). While it
// lives it is the thread's structured error handler, which also keeps libxml2 from
// printing its errors.
struct ErrorCollector {
    ErrorCollector()
        : previousHandler_(xmlStructuredError), previousContext_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(this, &ErrorCollector::collect);
    }
    ~ErrorCollector() { xmlSetStructuredErrorFunc(previousContext_, previousHandler_); }
    ErrorCollector(const ErrorCollector&) = delete;
    ErrorCollector& operator=(const ErrorCollector&) = delete;

    bool seen = false;
    XmlParseError first;

    static void collect(void* data, xmlErrorPtr error) {
        auto* self = static_cast<ErrorCollector*>(data);
        if (self->seen || error == nullptr || error->level < XML_ERR_ERROR)
            return;
        // A namespace name that is no valid URI is still a namespace name.
        if (error->code == XML_WAR_NS_URI || error->code == XML_WAR_NS_URI_RELATIVE)
            return;
        self->seen = true;
        std::string reason = error->message ? error->message : "";
        while (!reason.empty() &&
               (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
            reason.pop_back();
        self->first.reason = std::move(reason);
        self->first.line = error->line > 0 ? error->line : -1;
        self->first.column = error->int2 > 0 ? error->int2 : -1;
    }

private:
    xmlStructuredErrorFunc previousHandler_;
    void* previousContext_;
};

// xmlFree is a variable (or a macro reading one), not a function.
void freeXml(void* memory) {
    xmlFree(memory);
}

} // namespace

HRESULT XmlDocument::load(std::string_view utf8, XmlParseError& error) {
    initialiseParser();
    doc_.reset();
    glib::Owned<xmlParserCtxt, xmlFreeParserCtxt> ctxt(xmlNewParserCtxt());
    if (!ctxt || !ctxt->sax)
        return E_OUTOFMEMORY;
    ErrorCollector errors;
    if (utf8.size() > static_cast<std::size_t>(INT32_MAX)) {
        error = XmlParseError{"The text is too long.", -1, -1};
        return NORV_E_XMLNOTWELLFORMED;
    }
    // No network, no external subset; entities stay references in the tree.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    glib::Owned<xmlDoc, xmlFreeDoc> doc(xmlCtxtReadMemory(
        ctxt.get(), utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", options));
    // Namespace errors (an undeclared prefix, for one) count as not well-formed.
    if (!doc || !ctxt->wellFormed || errors.seen || !xmlDocGetRootElement(doc.get())) {
        if (errors.seen)
            error = errors.first;
        else
            error = XmlParseError{"The text is not well-formed XML.", -1, -1};
        return NORV_E_XMLNOTWELLFORMED;
    }
    doc_ = std::move(doc);
    return S_OK;
}

xmlNode* XmlDocument::root() const {
    return doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr;
}

std::optional<std::string> XmlDocument::rootXml() const {
    xmlNode* element = root();
    if (!element)
        return std::nullopt;
    glib::Owned<xmlBuffer, xmlBufferFree> buffer(xmlBufferCreate());
    if (!buffer)
        return std::nullopt;
    xmlSaveCtxt* save = xmlSaveToBuffer(buffer.get(), "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_AS_XML);
    if (!save)
        return std::nullopt;
    const long written = xmlSaveTree(save, element);
    xmlSaveClose(save);
    if (written < 0)
        return std::nullopt;
    return std::string(view(xmlBufferContent(buffer.get())));
}

std::optional<std::string> xmlAttribute(const xmlNode* element, const char* name) {
    glib::Owned<xmlChar, freeXml> value(xmlGetNoNsProp(element, xml(name)));
    if (!value)
        return std::nullopt;
    return std::string(view(value.get()));
}

bool setXmlAttribute(xmlNode* element, const char* name, std::string_view utf8) {
    std::string value(utf8);
    return xmlSetProp(element, xml(name), xml(value.c_str())) != nullptr;
}

xmlNode* firstDescendant(const xmlNode* under, const char* name) {
    // Depth-first walk in document order without recursion.
    const xmlNode* node = under->children;
    while (node) {
        if (node->type == XML_ELEMENT_NODE) {
            const bool prefixed = node->ns && node->ns->prefix;
            if (!prefixed && view(node->name) == name)
                return const_cast<xmlNode*>(node);
            if (node->children) {
                node = node->children;
                continue;
            }
        }
        while (node && node != under && !node->next)
            node = node->parent;
        if (!node || node == under)
            return nullptr;
        node = node->next;
    }
    return nullptr;
}

std::optional<std::string_view> namespaceOf(const xmlNode* element) {
    if (!element->ns || !element->ns->href)
        return std::nullopt;
    return view(element->ns->href);
}

std::string_view localNameOf(const xmlNode* element) {
    return view(element->name);
}

} // namespace norv::markup
