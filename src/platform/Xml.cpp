#include "platform/Xml.h"

#include <pugixml.hpp>

#include <cctype>

namespace dorvex {
namespace {

// The text of the descendants in document order, walked without recursion: a peer's reply may
// nest as deep as it likes.
void CollectText(const pugi::xml_node& top, std::string& out) {
    pugi::xml_node node = top.first_child();
    while (node && node != top) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) out += node.value();
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != top && !node.next_sibling()) node = node.parent();
        if (node != top) node = node.next_sibling();
    }
}

// Whether every "&" outside comments, CDATA sections and processing instructions starts one of
// the five predefined entities or a character reference (pugixml keeps unknown ones as text).
bool EntitiesDefined(std::string_view text) {
    std::size_t at = 0;
    while ((at = text.find_first_of("&<", at)) != std::string_view::npos) {
        std::string_view rest = text.substr(at);
        if (rest.substr(0, 4) == "<!--") {
            at = text.find("-->", at + 4);
            if (at == std::string_view::npos) return false;
            continue;
        }
        if (rest.substr(0, 9) == "<![CDATA[") {
            at = text.find("]]>", at + 9);
            if (at == std::string_view::npos) return false;
            continue;
        }
        if (rest.substr(0, 2) == "<?") {
            at = text.find("?>", at + 2);
            if (at == std::string_view::npos) return false;
            continue;
        }
        if (rest.front() == '<') {
            ++at;
            continue;
        }
        std::size_t end = rest.find(';');
        if (end == std::string_view::npos || end > 12) return false;
        std::string_view name = rest.substr(1, end - 1);
        bool known = name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot";
        if (!known && name.size() >= 2 && name[0] == '#') {
            bool hex = name[1] == 'x';
            std::string_view digits = name.substr(hex ? 2 : 1);
            known = !digits.empty();
            for (char c : digits) known = known && (hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)));
        }
        if (!known) return false;
        at += end + 1;
    }
    return true;
}

}  // namespace

std::string XmlNode::Name() const { return mNode ? pugi::xml_node(mNode).name() : ""; }

std::string XmlNode::Text() const {
    std::string text;
    if (mNode) CollectText(pugi::xml_node(mNode), text);
    return text;
}

std::optional<std::string> XmlNode::Attribute(std::string_view name) const {
    if (!mNode) return std::nullopt;
    pugi::xml_attribute attribute = pugi::xml_node(mNode).attribute(std::string(name).c_str());
    if (!attribute) return std::nullopt;
    return std::string(attribute.value());
}

std::vector<XmlNode> XmlNode::Select(const std::string& xpath) const {
    std::vector<XmlNode> nodes;
    if (!mNode) return nodes;
    try {
        for (const pugi::xpath_node& hit : pugi::xml_node(mNode).select_nodes(xpath.c_str())) {
            if (hit.node()) nodes.emplace_back(hit.node().internal_object());
        }
    } catch (const pugi::xpath_exception&) {
        nodes.clear();
    }
    return nodes;
}

XmlNode XmlNode::SelectOne(const std::string& xpath) const {
    auto nodes = Select(xpath);
    return nodes.empty() ? XmlNode() : nodes.front();
}

std::string XmlNode::OuterXml() const {
    if (!mNode) return {};
    struct Writer : pugi::xml_writer {
        std::string text;
        void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    } writer;
    pugi::xml_node(mNode).print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return writer.text;
}

std::vector<XmlNode> XmlNode::Children() const {
    std::vector<XmlNode> nodes;
    if (!mNode) return nodes;
    for (pugi::xml_node child : pugi::xml_node(mNode).children()) {
        if (child.type() == pugi::node_element) nodes.emplace_back(child.internal_object());
    }
    return nodes;
}

XmlDocument::XmlDocument() : mDoc(std::make_unique<pugi::xml_document>()) {}
XmlDocument::~XmlDocument() = default;

std::unique_ptr<XmlDocument> XmlDocument::Parse(std::string_view text, Refusal* why, int maxDepth) {
    Refusal ignored;
    Refusal& refusal = why ? *why : ignored;
    refusal = Refusal::NotWellFormed;
    // A document type can declare entities and expand them: a reply has no use for one.
    if (text.find("<!DOCTYPE") != std::string_view::npos || !EntitiesDefined(text)) return nullptr;
    std::unique_ptr<XmlDocument> doc(new XmlDocument());
    pugi::xml_parse_result result = doc->mDoc->load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
    if (!result) return nullptr;
    // One root element and nothing but markup around it: pugixml itself keeps text before and
    // after the root, and further roots.
    int elements = 0;
    for (pugi::xml_node child : doc->mDoc->children()) {
        if (child.type() == pugi::node_element) ++elements;
        else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) return nullptr;
    }
    if (elements != 1) return nullptr;
    // A bound on the nesting, measured without recursion.
    int depth = 1;  // the root element's level
    pugi::xml_node node = doc->mDoc->document_element();
    while (node) {
        if (node.first_child()) {
            node = node.first_child();
            if (++depth > maxDepth) {
                refusal = Refusal::TooDeep;
                return nullptr;
            }
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node) node = node.next_sibling();
    }
    refusal = Refusal::None;
    return doc;
}

XmlNode XmlDocument::Root() const { return XmlNode(mDoc->internal_object()); }

}  // namespace dorvex
