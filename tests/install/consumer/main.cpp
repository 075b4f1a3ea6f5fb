#include <iostream>

#include "model/ScanList.h"
#include "server/Cipher.h"
#include "server/Upload.h"
#include "support/Prompter.h"

int main() {
    std::string cipher = dorvex::EncryptText("王小明");
    dorvex::CScanList list;
    list.Add("B1", "1150000001", 2);
    dorvex::StderrPrompter person;
    dorvex::FrmUpload upload(person);
    upload.UploadType = 1;
    std::cout << dorvex::DecryptText(cipher) << " " << list.TotalInnos() << " " << upload.FileListCount() << "\n";
    return dorvex::DecryptText(cipher) == "王小明" ? 0 : 1;
}
