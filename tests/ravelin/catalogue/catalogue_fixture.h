#ifndef TESTS_RAVELIN_CATALOGUE_CATALOGUE_FIXTURE_H
#define TESTS_RAVELIN_CATALOGUE_CATALOGUE_FIXTURE_H

// Catalogue files in a temporary directory that stands in for the executable's directory.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/support/oswin32.h"

class CatalogueDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = (std::filesystem::temp_directory_path() / "catalogueXXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        m_dir = templ;
        os_SetExeDirForTesting(m_dir.c_str());
        cat_Free();
    }

    void TearDown() override
    {
        cat_Free();
        os_SetExeDirForTesting(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // Writes a file beside the "executable"; lines are joined with CR LF unless told otherwise.
    void Write(const std::string& name, const std::string& text, bool bCrLf = true)
    {
        std::string out;
        for (char c : text) {
            if (c == '\n' && bCrLf)
                out += '\r';
            out += c;
        }
        std::ofstream f(std::filesystem::path(m_dir) / name, std::ios::binary);
        f << out;
    }

    // A Models.ini of version 2 with the given model lines and a Locks.ini of version 1 with the
    // given sections.
    void WriteCatalogue(const std::string& models, int nModels, const std::string& locks = "")
    {
        Write("Models.ini", "[Version]\nVersion=2\n[Models]\nNumModels=" + std::to_string(nModels) +
                                "\n" + models);
        Write("Locks.ini", "[Version]\nVersion=1\n" + locks);
    }

    std::string m_dir;
};

#endif
