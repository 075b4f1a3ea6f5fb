#include "DemoSession.h"

#include <cstdlib>
#include <optional>

#include "control/Acquisition.h"
#include "control/OrbScan.h"
#include "model/SettingsStore.h"
#include "platform/Raster.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "server/Cipher.h"
#include "support/Error.h"
#include "support/ModFS.h"

#ifndef DORVEX_LETTERS_DIR
#define DORVEX_LETTERS_DIR ""
#endif

namespace dorvex {
namespace {

// The server's answers for the demonstration: the two letters on the operator's scan list,
// barcodes on, separator sheets between documents, the whole clean-up chain.
std::string DemoSeed() {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<Seed>
  <Operator name="*">
    <ScanList>
      <Item batchno=")") + DemoSession::kBatch + R"(" inno="1150000101" pages="2"/>
      <Item batchno=")" + DemoSession::kBatch + R"(" inno="1150000102" pages="2"/>
    </ScanList>
    <ScanCaps>
      <DPI>200</DPI><Feeder>1</Feeder><Duplex>0</Duplex><ScanMode>0</ScanMode>
      <UseBarcode>1</UseBarcode><SplitPageMethod>1</SplitPageMethod><BCSeparator>DORVEX-SEP</BCSeparator>
      <EnableScanFix>1</EnableScanFix><Deskew>1</Deskew><DotRemove>1</DotRemove><WPageRemove>1</WPageRemove>
      <EnableMultiTIFF>1</EnableMultiTIFF><ImgFormat>G4</ImgFormat>
    </ScanCaps>
  </Operator>
  <Messages><Message key="tdesc" value="文件概要"/></Messages>
</Seed>
)";
}

}  // namespace

std::string DefaultLettersFolder() { return DORVEX_LETTERS_DIR; }

DemoSession::DemoSession(const std::string& letters) {
    if (letters.empty() || !FolderExists(letters)) {
        throw DorvexError(err::PathNotFound, "the sample letters are not there (" + letters + "); give --letters DIR");
    }
    char pattern[] = "/tmp/dorvex-demo.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw DorvexError(err::PathNotFound, "cannot make a work folder in /tmp");
    mWork = pattern;
    // A private settings file and temporary folder: the clerk's own are left alone.
    ::setenv("XDG_CONFIG_HOME", (mWork + "/config").c_str(), 1);
    ::setenv("DORVEX_TMPDIR", (mWork + "/tmp").c_str(), 1);
    WriteFileAtomic(mWork + "/seed.xml", DemoSeed());
    SettingsStore settings;
    settings.Set("Twain", Acquisition::kSourceKey, "file:" + letters);
    settings.Save();
    refserver::RefServerOptions options;
    options.dataDir = DataDir();
    options.seedFile = mWork + "/seed.xml";
    mServer = std::make_unique<refserver::RefServer>(options);
    mServer->Start();
    mUrl = mServer->BaseUrl() + "upload.php";
}

DemoSession::~DemoSession() {
    if (mServer) mServer->Stop();
}

void DemoSession::Configure(OrbScan& control) const {
    control.SetEncServerURL(EncryptText(mUrl));
    control.SetEncOperator(EncryptText(kOperator));
}

bool DemoSession::Holdings(std::string& text) const {
    bool held = true;
    refserver::Storage storage(DataDir());
    for (const char* inno : {"1150000101", "1150000102"}) {
        std::optional<refserver::StoredDocument> doc = storage.Find(inno);
        if (!doc) {
            text += std::string("  ") + inno + ": nothing\n";
            held = false;
            continue;
        }
        for (const auto& file : doc->files) {
            std::optional<ImageInfo> info = ProbeImage(file.path);
            text += std::string("  ") + inno + ": " + file.path + " (" + std::to_string(file.size) + " bytes, " +
                    std::to_string(info ? info->pages : 0) + " page(s))\n";
        }
    }
    return held;
}

}  // namespace dorvex
