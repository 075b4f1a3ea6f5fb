#pragma once
// A small read-only XML document with XPath selection, over pugixml (kept out of this header).

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
struct xml_node_struct;
class xml_document;
}  // namespace pugi

namespace dorvex {

class XmlNode {
public:
    XmlNode() = default;
    explicit XmlNode(pugi::xml_node_struct* node) : mNode(node) {}

    explicit operator bool() const { return mNode != nullptr; }
    std::string Name() const;
    // The concatenated text of the node and its descendants (the DOM's text property).
    std::string Text() const;
    std::optional<std::string> Attribute(std::string_view name) const;
    // Nodes selected by an XPath expression relative to this node; none for a bad expression.
    std::vector<XmlNode> Select(const std::string& xpath) const;
    XmlNode SelectOne(const std::string& xpath) const;
    // The node and its content as XML text, without declaration or indentation.
    std::string OuterXml() const;
    std::vector<XmlNode> Children() const;  // element children in order

private:
    pugi::xml_node_struct* mNode = nullptr;
};

class XmlDocument {
public:
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Elements nest at most this deep in a document that is read.
    static constexpr int kMaxDepth = 256;
    enum class Refusal { None, NotWellFormed, TooDeep };
    // nullptr unless the UTF-8 text is one well-formed XML document: one root element, only
    // white space, comments and processing instructions around it, no document type, only
    // the predefined entities, nesting at most `maxDepth` deep. `why` tells which.
    static std::unique_ptr<XmlDocument> Parse(std::string_view text, Refusal* why = nullptr, int maxDepth = kMaxDepth);
    XmlNode Root() const;  // the document node
    std::vector<XmlNode> Select(const std::string& xpath) const { return Root().Select(xpath); }
    XmlNode SelectOne(const std::string& xpath) const { return Root().SelectOne(xpath); }

private:
    XmlDocument();
    std::unique_ptr<pugi::xml_document> mDoc;
};

}  // namespace dorvex
