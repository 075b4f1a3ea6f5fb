#pragma once
// The XML requests the control sends to the server. Each kind renders its exact text; the
// server tells them apart by the `method` attribute of the root element `Request`. Values are
// XML-escaped; the texts carry no XML declaration.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvex {

class CBaseReq {
public:
    virtual ~CBaseReq() = default;
    // Element 0 is always empty and never sent; element 1 holds the request text.
    virtual std::vector<std::string> GetRequestXML() const = 0;
};

class CListReq : public CBaseReq {
public:
    std::string Operator;
    std::vector<std::string> GetRequestXML() const override;
};

class CcapsReq : public CBaseReq {
public:
    std::string Operator;
    std::vector<std::string> GetRequestXML() const override;
};

class CGetImgReq : public CBaseReq {
public:
    std::string Operator;
    std::string Inno;
    std::int32_t Part = 0;
    std::vector<std::string> GetRequestXML() const override;
};

class CImgInfoReq : public CBaseReq {
public:
    std::string Operator;
    std::string Inno;
    std::vector<std::string> GetRequestXML() const override;
};

class CInnoQueryReq : public CBaseReq {
public:
    void Add(const std::string& inno) { mInnos.push_back(inno); }
    std::vector<std::string> GetRequestXML() const override;

private:
    std::vector<std::string> mInnos;
};

class CInnoPagesUpdateReq : public CBaseReq {
public:
    void Add(const std::string& inno, const std::string& pages) {
        mInnos.push_back(inno);
        mPages.push_back(pages);
    }
    std::vector<std::string> GetRequestXML() const override;

private:
    std::vector<std::string> mInnos;
    std::vector<std::string> mPages;
};

class CLangReq : public CBaseReq {
public:
    std::vector<std::string> GetRequestXML() const override;
};

class CUploadReq : public CBaseReq {
public:
    std::string Operator;
    std::string Name;
    std::string RefName;
    std::string ParentName;
    std::string DVDPrefix;
    std::int16_t Pages = 0;
    std::int16_t PageIndex = 0;
    bool EnableOverWrite = true;
    std::int32_t CurrentPart = 0;
    std::int32_t TotalParts = 0;
    std::string FilePath;  // kept for the caller, not sent

    void SetBuff(std::string bytes) { mBuff = std::move(bytes); }
    // Renders into `out` (an empty text when CurrentPart > TotalParts), so that a 1 MiB chunk
    // and its base64 text are the only large buffers alive.
    void RenderTo(std::string& out) const;
    std::vector<std::string> GetRequestXML() const override;

private:
    std::string mBuff;
};

}  // namespace dorvex
