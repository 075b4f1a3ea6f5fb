#include "server/Requests.h"

#include <gtest/gtest.h>

#include "platform/Xml.h"

using namespace dorvex;

namespace {
std::string Text(const CBaseReq& request) {
    auto texts = request.GetRequestXML();
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "");
    return texts[1];
}
}  // namespace

TEST(Requests, ExactTexts) {
    CListReq list;
    list.Operator = "clerk1";
    EXPECT_EQ(Text(list), R"(<Request method="QueryScanList" operator="clerk1" />)");
    CcapsReq caps;
    caps.Operator = "王";
    EXPECT_EQ(Text(caps), R"(<Request method="QueryScanCaps" operator="王" />)");
    CGetImgReq img;
    img.Operator = "op";
    img.Inno = "A1";
    img.Part = 2;
    EXPECT_EQ(Text(img),
              R"(<Request method="QueryImgByInno" operator="op"><QueryImgByInno inno="A1" part="2" /></Request>)");
    CImgInfoReq info;
    info.Operator = "op";
    info.Inno = "A1";
    EXPECT_EQ(Text(info),
              R"(<Request method="QueryImgInfoByInno" operator="op"><QueryImgInfoByInno inno="A1"/></Request>)");
    CInnoQueryReq query;
    EXPECT_EQ(Text(query), R"(<Request method="QueryInnoPages"><QueryInnoPages></QueryInnoPages></Request>)");
    query.Add("A1");
    query.Add("A2");
    EXPECT_EQ(Text(query),
              R"(<Request method="QueryInnoPages"><QueryInnoPages><Inno>A1</Inno><Inno>A2</Inno></QueryInnoPages></Request>)");
    CInnoPagesUpdateReq update;
    update.Add("A1", "3");
    update.Add("A2", "10");
    EXPECT_EQ(Text(update),
              R"(<Request method="InnoPagesUpdate"><InnoPagesUpdate><Ref inno="A1" pages="3"/><Ref inno="A2" pages="10"/></InnoPagesUpdate></Request>)");
    EXPECT_EQ(Text(CLangReq()), R"(<Request method="QueryLanguage"></Request>)");
}

TEST(Requests, UploadTextAndDefaults) {
    CUploadReq fresh;
    fresh.SetBuff("abc");
    EXPECT_EQ(Text(fresh),
              R"(<Request method="BatchUpload" operator=""><BatchUpload total="0" this="0" name="" pages="0" encoding="base64" dvdprefix="" overwrite="1" refname="" pageindex="0" parentname="">YWJj</BatchUpload></Request>)");

    CUploadReq chunk;
    chunk.Operator = "op";
    chunk.Name = "A1";
    chunk.RefName = "OLD";
    chunk.ParentName = "P";
    chunk.DVDPrefix = "DVD";
    chunk.Pages = 5;
    chunk.PageIndex = 2;
    chunk.EnableOverWrite = false;
    chunk.CurrentPart = 2;
    chunk.TotalParts = 3;
    chunk.FilePath = "/tmp/not-sent";
    chunk.SetBuff(std::string("\0\xFF", 2));
    EXPECT_EQ(Text(chunk),
              R"(<Request method="BatchUpload" operator="op"><BatchUpload total="3" this="2" name="A1" pages="5" encoding="base64" dvdprefix="DVD" overwrite="0" refname="OLD" pageindex="2" parentname="P">AP8=</BatchUpload></Request>)");

    chunk.CurrentPart = 4;
    EXPECT_EQ(Text(chunk), "");
}

TEST(Requests, ValuesCannotChangeTheRequestStructure) {
    CUploadReq upload;
    upload.Operator = "R&D";
    upload.Name = R"(A1" overwrite="1)";
    upload.EnableOverWrite = false;
    upload.TotalParts = upload.CurrentPart = 1;
    std::string text = Text(upload);
    auto doc = XmlDocument::Parse(text);
    ASSERT_TRUE(doc) << text;
    XmlNode element = doc->SelectOne("/Request/BatchUpload");
    EXPECT_EQ(element.Attribute("name"), R"(A1" overwrite="1)");
    EXPECT_EQ(element.Attribute("overwrite"), "0");
    EXPECT_EQ(doc->SelectOne("/Request").Attribute("operator"), "R&D");

    CInnoQueryReq query;
    query.Add("<x>&");
    auto parsed = XmlDocument::Parse(Text(query));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->SelectOne("//Inno").Text(), "<x>&");

    // Tabs and line breaks arrive as they were sent (a parser would make spaces of them).
    CUploadReq spaced;
    spaced.Operator = "a\tb";
    spaced.Name = "line1\r\nline2";
    spaced.TotalParts = spaced.CurrentPart = 1;
    auto withBreaks = XmlDocument::Parse(Text(spaced));
    ASSERT_TRUE(withBreaks);
    EXPECT_EQ(withBreaks->SelectOne("/Request").Attribute("operator"), "a\tb");
    EXPECT_EQ(withBreaks->SelectOne("/Request/BatchUpload").Attribute("name"), "line1\r\nline2");
}

TEST(XmlReading, NestingIsBoundedAndToldApartFromBadXml) {
    auto nested = [](int levels) {
        std::string text;
        for (int i = 0; i < levels; ++i) text += "<a>";
        for (int i = 0; i < levels; ++i) text += "</a>";
        return text;
    };
    XmlDocument::Refusal why;
    EXPECT_TRUE(XmlDocument::Parse(nested(XmlDocument::kMaxDepth), &why));
    EXPECT_EQ(why, XmlDocument::Refusal::None);
    EXPECT_FALSE(XmlDocument::Parse(nested(XmlDocument::kMaxDepth + 1), &why));
    EXPECT_EQ(why, XmlDocument::Refusal::TooDeep);
    EXPECT_TRUE(XmlDocument::Parse(nested(3), &why, 3));
    EXPECT_FALSE(XmlDocument::Parse(nested(4), &why, 3));
    EXPECT_FALSE(XmlDocument::Parse("<a><b></a>", &why));
    EXPECT_EQ(why, XmlDocument::Refusal::NotWellFormed);
}
