// SHA-256: the standard's vectors, every padding boundary against sha256sum, files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ravelin/history/hist_sha256.h"
#include "ravelin/history/history_test_util.h"

namespace {

std::string HexOf(const std::string &data, std::size_t nChunk) {
    HistSha256 hash;
    hist_Sha256Init(&hash);
    for (std::size_t i = 0; i < data.size(); i += nChunk)
        hist_Sha256Update(&hash, data.data() + i, std::min(nChunk, data.size() - i));
    std::uint8_t abDigest[32];
    hist_Sha256Final(&hash, abDigest);
    char szHex[65];
    hist_Sha256Hex(abDigest, szHex);
    return szHex;
}

// What the system's sha256sum prints for a file.
std::string SystemSum(const std::string &path) {
    std::string command = "sha256sum '" + path + "'";
    std::FILE *pPipe = ::popen(command.c_str(), "r");
    if (pPipe == nullptr) return "";
    char szLine[256] = "";
    if (std::fgets(szLine, sizeof szLine, pPipe) == nullptr) szLine[0] = '\0';
    ::pclose(pPipe);
    return std::string(szLine).substr(0, 64);
}

TEST(Sha256, TheStandardsVectorsInAnyChunking) {
    struct Case {
        std::string data;
        const char *pszHex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case &c : cases)
        for (std::size_t nChunk : {std::size_t(1), std::size_t(63), std::size_t(64), std::size_t(4096)}) {
            if (c.data.size() > 100000 && nChunk == 1) continue;
            EXPECT_EQ(HexOf(c.data, nChunk), c.pszHex) << c.data.size() << " bytes in chunks of " << nChunk;
        }
}

TEST(Sha256, FilesOfEveryLengthAroundTheBlockEndMatchSha256sum) {
    history_test::TempDir dir;
    for (std::size_t nLength : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 65535, 65536, 65537, 200003}) {
        std::string data;
        for (std::size_t i = 0; i < nLength; ++i) data.push_back(static_cast<char>((i * 131 + 7) & 0xff));
        std::string path = dir.file("image" + std::to_string(nLength) + ".hex");
        std::FILE *pFile = std::fopen(path.c_str(), "wb");
        ASSERT_NE(pFile, nullptr);
        std::fwrite(data.data(), 1, data.size(), pFile);
        std::fclose(pFile);
        char szHex[hist_kShaLen];
        std::int64_t nSize = -1;
        ASSERT_EQ(hist_Sha256File(path.c_str(), szHex, &nSize), 1);
        EXPECT_EQ(nSize, static_cast<std::int64_t>(nLength));
        EXPECT_EQ(std::string(szHex), SystemSum(path)) << nLength << " bytes";
    }
}

TEST(Sha256, AMissingFileHasNoFingerprint) {
    char szHex[hist_kShaLen] = "x";
    std::int64_t nSize = 5;
    EXPECT_EQ(hist_Sha256File("/nonexistent/ravelin/image.hex", szHex, &nSize), 0);
    EXPECT_STREQ(szHex, "");
    EXPECT_EQ(nSize, 0);
}

}  // namespace
