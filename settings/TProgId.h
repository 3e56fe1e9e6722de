#pragma once

#include <string>

namespace kavrel {

// The program's identity: company, product name and version. The settings file writes them into
// its header and names its folder after them; the recent files list names its store after them.
class TProgId {
public:
    // The version text written by this identity when AutoVersion is set.
    static constexpr const char* AutoVersionText = "3.0";

    const std::string& Company() const { return m_company; }
    void SetCompany(std::string value) { m_company = std::move(value); }

    const std::string& ProductName() const { return m_productName; }
    void SetProductName(std::string value) { m_productName = std::move(value); }

    const std::string& Version() const { return m_version; }
    void SetVersion(std::string value) { m_version = std::move(value); }

    bool AutoVersion() const { return m_autoVersion; }
    void SetAutoVersion(bool value) { m_autoVersion = value; }

    // The version as it is recorded: Version(), or "3.0" when AutoVersion() is set.
    std::string ProgramVersion() const;

private:
    std::string m_company;
    std::string m_productName;
    std::string m_version;
    bool m_autoVersion = false;
};

} // namespace kavrel
