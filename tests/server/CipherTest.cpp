#include "server/Cipher.h"

#include <gtest/gtest.h>

#include "server/Base64.h"
#include "server/Md5.h"
#include "support/CodePage.h"
#include "support/Error.h"

using namespace dorvex;

TEST(Md5, Rfc1321Vectors) {
    EXPECT_EQ(MD5Hex("", 0), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(MD5Hex("a", 1), "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(MD5Hex("abc", 3), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(MD5Hex("message digest", 14), "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(MD5Hex("abcdefghijklmnopqrstuvwxyz", 26), "C3FCD3D76192E4007DFB496CCA67E13B");
    std::string alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    EXPECT_EQ(MD5Hex(alnum, 62), "D174AB98D277D9F5A5611C2C9F419D9F");
    std::string digits;
    for (int i = 0; i < 8; ++i) digits += "1234567890";
    EXPECT_EQ(MD5Hex(digits, 80), "57EDF4A22BE3C955AC49DA2E2107B67A");
    // Only the first `count` bytes count.
    EXPECT_EQ(MD5Hex("abcdef", 3), "900150983CD24FB0D6963F7D28E17F72");
    // Lengths around the padding boundary, of a longer buffer, against digests computed elsewhere.
    const std::pair<std::size_t, const char*> boundaries[] = {
        {55, "04364420E25C512FD958A70738AA8F72"}, {56, "668A72D5BA17F08E62DABCAFAD6DB14B"},
        {63, "7DC2CA208106A2F703567BDFF99D8981"}, {64, "C1BB4F81D892B2D57947682AEB252456"},
        {65, "1BC932052302D074BDEC39795FE00CF6"}, {119, "AB347A5F68C8A443CFCDDC633F12C24F"},
        {120, "FB98667F98096DE92620B64F46E1C5B5"}};
    for (const auto& [n, digest] : boundaries) {
        EXPECT_EQ(MD5Hex(std::string(n, 'x') + "tail", static_cast<std::int64_t>(n)), digest) << n;
    }
    try {
        MD5Hex("abc", 0x0FFFFFFF);
        FAIL();
    } catch (const DorvexError& e) {
        EXPECT_EQ(e.Number(), err::Overflow);
    }
}

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(Base64Encode(plain), encoded);
        EXPECT_EQ(Base64Decode(encoded), plain);
        EXPECT_TRUE(IsStrictBase64(encoded));
    }
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Decode("YW\r\nJj"), "abc");
    EXPECT_EQ(Base64Decode(" Zm 9v*Yg== "), "foob");
    EXPECT_EQ(Base64Decode("Zm9vY"), "foo");  // trailing incomplete group ignored
    EXPECT_EQ(Base64Decode("Zm"), "");
    std::string binary;
    for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
    std::string encoded = Base64Encode(binary + binary + binary);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_EQ(Base64Decode(encoded), binary + binary + binary);
    EXPECT_EQ(Base64DecodeStrict("Zm9v\r\nYmE="), "fooba");
    EXPECT_EQ(Base64DecodeStrict(""), "");
    EXPECT_EQ(Base64DecodeStrict(encoded), binary + binary + binary);
    for (const char* bad : {"Zm9", "Zm=v", "Z===", "Zg==Zg==", "Zm9v*", "Zg=", "=Zg="}) {
        EXPECT_FALSE(Base64DecodeStrict(bad)) << bad;
    }
    EXPECT_EQ(Base64Decode("Zg=x"), std::string("f\0", 2).substr(0, 1));  // lenient: "=" third drops two bytes
    EXPECT_FALSE(IsStrictBase64("Zm9v\n"));
    EXPECT_FALSE(IsStrictBase64("Zm=v"));
    EXPECT_FALSE(IsStrictBase64("Zg="));
}

TEST(Cipher, RoundTripsAndHasTheDocumentedShape) {
    std::string plain = "0123456789";  // 10 bytes
    std::string c1 = Encrypt(plain);
    EXPECT_EQ(c1.size(), 44u);
    EXPECT_EQ(c1.back(), '=');
    EXPECT_EQ(Base64Decode(c1).size(), 32u);
    EXPECT_EQ(Decrypt(c1), plain);
    // Every call differs, even back to back, and all decrypt alike.
    std::string c2 = Encrypt(plain);
    EXPECT_NE(c1, c2);
    EXPECT_EQ(Decrypt(c2), plain);
    // Exactly one block: 16 + 16 bytes; 17 bytes: 16 + 32.
    EXPECT_EQ(Base64Decode(Encrypt(std::string(16, 'a'))).size(), 32u);
    EXPECT_EQ(Base64Decode(Encrypt(std::string(17, 'a'))).size(), 48u);
    std::string longText(1000, 'z');
    EXPECT_EQ(Decrypt(Encrypt(longText)), longText);
}

// An independent reading of the cipher: given the random prefix, every byte is fixed. This
// pins the chaining (only the first ten bytes of each enciphered block feed the next key).
TEST(Cipher, DecryptsAHandBuiltCipherText) {
    std::string key(kCipherKey);
    std::string iv = "0123456789ABCDEF";
    std::string plain = "https://srv/x.php?a=1";  // 21 bytes: two blocks
    std::string padded = plain + std::string(11, '\0');
    std::string chain = XorBytes(key, iv);
    std::string out = iv;
    for (std::size_t i = 0; i < padded.size(); i += 16) {
        std::string mask = HexToBytes(MD5Hex(chain, static_cast<std::int64_t>(chain.size())));
        std::string enciphered = XorBytes(padded.substr(i, 16), mask);
        out += enciphered;
        chain = XorBytes(enciphered.substr(0, 10), key);
    }
    EXPECT_EQ(Decrypt(Base64Encode(out)), plain);
}

TEST(Cipher, CleaningAndFailures) {
    EXPECT_EQ(CleanPlainBytes(std::string("a\0b\rc\x13", 6)), "abc");
    EXPECT_EQ(CleanPlainBytes("\x13x"), "\x13x");
    EXPECT_EQ(Decrypt(Encrypt("line1\r\nline2")), "line1\nline2");
    EXPECT_EQ(Decrypt(Encrypt("abc\x13")), "abc");
    for (const char* bad : {"", "AAAA", "AAAAAAAAAAAAAAAAAAAAAA=="}) {  // 0, 3 and 16 bytes
        try {
            Decrypt(bad);
            FAIL() << bad;
        } catch (const DorvexError& e) {
            EXPECT_EQ(e.Number(), err::SubscriptOutOfRange);
        }
    }
    EXPECT_THROW(Decrypt(Encrypt(std::string(5, '\0'))), DorvexError);
    // A wrong key gives other bytes, not an error.
    EXPECT_NE(Decrypt(Encrypt("secret text"), "OTHERKEYXX"), "secret text");
}

TEST(Cipher, ChineseTextTravelsAsCp950) {
    std::string text = "臺北市政府 王小明";
    std::string cipher = EncryptText(text);
    EXPECT_EQ(DecryptText(cipher), text);
    EXPECT_EQ(Decrypt(cipher), ToAnsi(text));
    // CP950 takes two bytes per Chinese character: 9 characters + 1 blank = 19 bytes -> 2 blocks.
    EXPECT_EQ(Base64Decode(cipher).size(), 48u);
    EXPECT_THROW(EncryptText("简体"), DorvexError);
}
