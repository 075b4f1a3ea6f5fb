#pragma once
// The two requests that carry recognised words: UpdateDocWords sends a document's fields after
// its files, QueryFixedWords fetches the server's OCR corrections.

#include <memory>

#include "model/ScanList.h"
#include "server/Requests.h"

namespace dorvex {

class CDocWordsReq : public CBaseReq {
public:
    std::string Inno;
    // The document whose Words are sent: read when the request is rendered, so that edits made
    // after queuing and before sending go out.
    std::shared_ptr<const CInno> Document;

    // Throws DorvexError(InvalidArgument) for a key that cannot be an XML element name.
    std::vector<std::string> GetRequestXML() const override;
};

class CFixWordsReq : public CBaseReq {
public:
    std::vector<std::string> GetRequestXML() const override;
};

// Whether a text can be an XML element name.
bool IsXmlName(const std::string& name);

}  // namespace dorvex
