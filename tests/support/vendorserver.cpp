#include "vendorserver.h"

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

namespace vexor::testkit {

namespace {

// The port of a "listening on ADDR:PORT" line; 0 when it is not one.
int portFromBanner(const std::string& line)
{
    const std::string prefix = "listening on ";
    const auto colon = line.rfind(':');
    if (!line.starts_with(prefix) || colon == std::string::npos)
        return 0;
    return std::atoi(line.c_str() + colon + 1);
}

}  // namespace

std::string ServerLogLine::value(const std::string& key) const
{
    for (const auto& [name, text] : pairs) {
        if (name == key)
            return text;
    }
    return {};
}

std::string ServerLogLine::keys() const
{
    std::string text;
    for (const auto& pair : pairs)
        text += (text.empty() ? "" : ",") + pair.first;
    return text;
}

VendorServer::VendorServer(const std::string& executable, std::vector<std::string> args, bool log)
{
    if (log)
        args.insert(args.begin(), {"--log", logPath()});
    args.insert(args.begin(), {executable, "--port", "0"});
    ChildProcess::Options options;
    options.pipeOut = true;
    options.errFile = m_dir / "stderr.txt";
    m_process = std::make_unique<ChildProcess>(std::move(args), options);
    // Standard output stays open (unread) to the end: the server may write
    // to it again, and must not meet a closed pipe.
    std::string out;
    m_process->readOutput(out, std::chrono::seconds(20), true);
    m_port = portFromBanner(out.substr(0, out.find('\n')));
}

std::vector<ServerLogLine> VendorServer::scriptRequests() const
{
    std::vector<ServerLogLine> lines;
    for (const std::string& text : logLines()) {
        std::istringstream words(text);
        std::string time, address, word;
        words >> time >> address;
        ServerLogLine line;
        bool script = true;
        while (script && words >> word) {
            const std::size_t equals = word.find('=');
            script = equals != std::string::npos;  // "GET /path": not a script request
            if (script)
                line.pairs.emplace_back(word.substr(0, equals), word.substr(equals + 1));
        }
        if (script && !line.pairs.empty())
            lines.push_back(std::move(line));
    }
    return lines;
}

long VendorServer::countAction(const std::string& action) const
{
    long count = 0;
    for (const ServerLogLine& line : scriptRequests())
        count += line.action() == action;
    return count;
}

std::string bannerImage(const std::string& id, std::size_t bytes)
{
    std::string image = "GIF89a" + id;
    for (std::size_t i = 0; image.size() < bytes; ++i)
        image += static_cast<char>((i * 7 + id.back()) & 0xFF);
    return image;
}

std::string bannerPage(const std::string& id)
{
    return "<html><body><a href=\"http://vendor.example/" + id + "\">banner " + id + "</a></body></html>\r\n";
}

void writeVendorContent(const std::string& folder, const std::vector<std::string>& lineUps, std::size_t imageBytes)
{
    const std::string root = folder + "/";
    writeFile(root + "lang.ini", "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n");
    writeFile(root + "modl.ini", "[Modules]\r\nNotes=Notes\r\nClock=Clock\r\n");
    writeFile(root + "version.txt", "1.3");
    writeFile(root + "languages/english.lng", "[Texts]\r\nMainCaption=Vexor\r\n");
    std::filesystem::create_directories(root + "web");
    std::set<std::string> ids;
    for (std::size_t n = 0; n < lineUps.size(); ++n) {
        writeFile(root + "lineups/" + std::to_string(n + 1) + ".txt", lineUps[n] + "\n");
        std::istringstream words(lineUps[n]);
        std::string word;
        for (int i = 0; i < 10 && words >> word; ++i) {
            if (word != "000000")
                ids.insert(word);
        }
    }
    std::filesystem::create_directories(root + "banners");
    for (const std::string& id : ids) {
        writeFile(root + "banners/" + id + ".gif", bannerImage(id, imageBytes));
        writeFile(root + "banners/" + id + ".htm", bannerPage(id));
    }
}

}  // namespace vexor::testkit
