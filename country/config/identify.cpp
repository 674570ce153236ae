#include "country/config/identify.h"

#include <cctype>

const std::vector<IdentifyQuestion>& IdentifyQuestions()
{
    static const std::vector<IdentifyQuestion> questions = {
        {"ATI\r", "\r\n(.*)\r\n", 9000},  // ATI answers of some models take long to assemble
        {"ATI2\r", "\r\n(.*)(\r\n)*", 5000},
        {"ATI1\r", "\r\n(.*)\r\n", 5000},
        {"ATI4\r", "\r\n(.*)\r\n(.*)\r\n(.*)\r\n(.*)\r\n(.*)\r\n(.*)\r\n(.*)", 5000},
        {"ATI3\r", "\r\n(.*)\r\n", 5000},
    };
    return questions;
}

bool ModelNeedsNoVersion(const std::string& modelName)
{
    return modelName.find("56000") != std::string::npos;
}

const ModelRecord* MatchModel(const std::vector<ModelRecord>& models, const std::string& answer)
{
    for (const ModelRecord& model : models) {
        if (model.name.empty())
            continue;
        size_t at = answer.find(model.name);
        if (at == std::string::npos)
            continue;
        size_t wordEnd = answer.find_first_of(std::string("\0\n\r ", 4), at);
        size_t count = (wordEnd == std::string::npos ? answer.size() : wordEnd) - at;
        if (count == model.name.size())
            return &model;
    }
    return nullptr;
}

bool ParseVersion(const std::string& answer, std::string* version)
{
    size_t versionWord = answer.find("Version");
    if (versionWord != std::string::npos) {
        size_t dot = answer.find('.', versionWord);
        if (dot == std::string::npos)
            return false;
        // "Version" itself stands before any dot found after it, so there is always a character here.
        *version = answer.substr(dot - 1, 1);
        return true;
    }
    size_t firstDot = answer.find('.');
    if (firstDot == std::string::npos)
        return false;
    size_t underscoreV = answer.find("_V");
    if (underscoreV != std::string::npos) {
        // The version runs to the dot that follows "_V"; a "_V" after the first dot of the answer would
        // otherwise give a negative length.
        size_t start = underscoreV + 2;
        size_t dot = answer.find('.', start);
        if (dot != std::string::npos) {
            *version = answer.substr(start, dot - start);
            return true;
        }
    }
    if (std::isalpha(static_cast<unsigned char>(answer[0]))) {
        *version = answer.substr(1, firstDot - 1);
        return true;
    }
    // A dot at the very start has no character before it: no version there.
    if (firstDot == 0)
        return false;
    *version = answer.substr(firstDot - 1, 1);
    return true;
}
