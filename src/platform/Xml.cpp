#include "platform/Xml.h"

#include <pugixml.hpp>

namespace dorvex {
namespace {

void CollectText(const pugi::xml_node& node, std::string& out) {
    for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) out += child.value();
        else if (child.type() == pugi::node_element) CollectText(child, out);
    }
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

std::unique_ptr<XmlDocument> XmlDocument::Parse(std::string_view text) {
    std::unique_ptr<XmlDocument> doc(new XmlDocument());
    pugi::xml_parse_result result =
        doc->mDoc->load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    if (!result || !doc->mDoc->document_element()) return nullptr;
    return doc;
}

XmlNode XmlDocument::Root() const { return XmlNode(mDoc->internal_object()); }

}  // namespace dorvex
