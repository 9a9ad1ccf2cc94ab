#pragma once
// The local settings file (the start-up report address) and the machine identity.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qev {

// Name of the optional settings file beside the program.
inline constexpr const char* SettingsFileName = "pm_config.ini";
// Only this many characters of the "PM" value are read.
inline constexpr std::size_t ReportAddressMaxChars = 511;

// The start-up report address split into its parts; all empty when there is none.
struct ReportAddress {
    std::string host, path, query;
    bool https = false; // ReadLocalSettings: the address names https (ReportAddressIsHttps)
};

// Splits "scheme://host/path?query": query = from the first '?' (included), empty without
// one; the host begins after "://" (skipping a "www." that directly follows it); host =
// up to the first '/' after that, path = from that '/'. Without a '/' the host is empty
// and the path is the rest. Without "://" the host begins at the third character.
ReportAddress SplitReportAddress(std::string_view pmValue);

// True when the report address names the https scheme ("https://", any case): the report,
// which carries the machine identity, then goes over https, to the port the host names
// (443 when none).
bool ReportAddressIsHttps(std::string_view pmValue);

// "pm_config.ini" beside the running program, or "" when that file does not exist.
std::string GetSettingsFilePath();

// The "PM" value of section "config" (first match, names without regard to case) of the
// file at path, one pair of enclosing quotes (double or single) dropped, then cut to
// ReportAddressMaxChars characters; "" when absent or unreadable.
std::string ReadReportAddressValue(const std::string& path);

// The report address from the settings file; empty parts when there is no file.
ReportAddress ReadLocalSettings();

// Upper-case hex of each adapter's six address bytes, 12 digits per adapter, in order.
std::string FormatMachineIdentity(const std::vector<std::array<unsigned char, 6>>& adapters);

// FormatMachineIdentity of the machine's adapters; "" when there are none.
std::string GetMachineIdentity();

} // namespace qev
