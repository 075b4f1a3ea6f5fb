#include "server/Requests.h"

#include "server/Base64.h"
#include "server/XmlText.h"

namespace dorvex {
namespace {

std::vector<std::string> One(std::string text) { return {std::string(), std::move(text)}; }

}  // namespace

std::vector<std::string> CListReq::GetRequestXML() const {
    return One("<Request method=\"QueryScanList\" operator=\"" + XmlEscape(Operator) + "\" />");
}

std::vector<std::string> CcapsReq::GetRequestXML() const {
    return One("<Request method=\"QueryScanCaps\" operator=\"" + XmlEscape(Operator) + "\" />");
}

std::vector<std::string> CGetImgReq::GetRequestXML() const {
    return One("<Request method=\"QueryImgByInno\" operator=\"" + XmlEscape(Operator) +
               "\"><QueryImgByInno inno=\"" + XmlEscape(Inno) + "\" part=\"" + std::to_string(Part) +
               "\" /></Request>");
}

std::vector<std::string> CImgInfoReq::GetRequestXML() const {
    return One("<Request method=\"QueryImgInfoByInno\" operator=\"" + XmlEscape(Operator) +
               "\"><QueryImgInfoByInno inno=\"" + XmlEscape(Inno) + "\"/></Request>");
}

std::vector<std::string> CInnoQueryReq::GetRequestXML() const {
    std::string text = "<Request method=\"QueryInnoPages\"><QueryInnoPages>";
    for (const auto& inno : mInnos) text += "<Inno>" + XmlEscape(inno) + "</Inno>";
    text += "</QueryInnoPages></Request>";
    return One(std::move(text));
}

std::vector<std::string> CInnoPagesUpdateReq::GetRequestXML() const {
    std::string text = "<Request method=\"InnoPagesUpdate\"><InnoPagesUpdate>";
    for (std::size_t i = 0; i < mInnos.size(); ++i) {
        text += "<Ref inno=\"" + XmlEscape(mInnos[i]) + "\" pages=\"" + XmlEscape(mPages[i]) + "\"/>";
    }
    text += "</InnoPagesUpdate></Request>";
    return One(std::move(text));
}

std::vector<std::string> CLangReq::GetRequestXML() const { return One("<Request method=\"QueryLanguage\"></Request>"); }

void CUploadReq::RenderTo(std::string& out) const {
    out.clear();
    if (TotalParts < CurrentPart) return;
    std::string head = "<Request method=\"BatchUpload\" operator=\"" + XmlEscape(Operator) +
                       "\"><BatchUpload total=\"" + std::to_string(TotalParts) + "\" this=\"" +
                       std::to_string(CurrentPart) + "\" name=\"" + XmlEscape(Name) + "\" pages=\"" +
                       std::to_string(Pages) + "\" encoding=\"base64\" dvdprefix=\"" + XmlEscape(DVDPrefix) +
                       "\" overwrite=\"" + (EnableOverWrite ? "1" : "0") + "\" refname=\"" + XmlEscape(RefName) +
                       "\" pageindex=\"" + std::to_string(PageIndex) + "\" parentname=\"" + XmlEscape(ParentName) +
                       "\">";
    static constexpr std::string_view kTail = "</BatchUpload></Request>";
    out.reserve(head.size() + (mBuff.size() + 2) / 3 * 4 + kTail.size());
    out += head;
    Base64EncodeTo(mBuff, out);
    out += kTail;
}

std::vector<std::string> CUploadReq::GetRequestXML() const {
    std::vector<std::string> texts(2);
    RenderTo(texts[1]);
    return texts;
}

}  // namespace dorvex
