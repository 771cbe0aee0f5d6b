// Figures for the language texts and the settings file. Every benchmark works
// in its own temporary program folder.
#include "app/core/language.h"
#include "app/core/settings.h"
#include "tempdir.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr int LanguageFileLines = 10000;

// The keys the client looks up while it runs, as its windows do.
const std::vector<std::string> TextKeys = {
    "MainCaption", "MainButton1", "LangMenu", "ModulMenu", "PreferMenu", "Version", "LDDownloadButton",
    "FPCaption", "FPLabel1", "FPLabel2", "FPLabel3", "FPButton1", "FPButton2", "AutoConnect", "Page1",
    "Page2", "LDCaption", "LDCancelButton", "LDFirstText", "LDOKButton", "LDSuccess",
};
const std::vector<std::string> ErrorKeys = { "ModlNotInstaled", "ConnectionEstabilished", "ConnectionFailed",
                                             "ConnectionNoHost" };

using ProgramFolder = vexor::testkit::TempDir;

// A language file of `lines` lines: filler keys with the real ones spread
// evenly through "Texts" and "Errors" (nine tenths of the lines are texts).
std::string bigLanguageFile(int lines)
{
    std::string text = "[Texts]\r\n";
    const int textLines = lines * 9 / 10;
    auto addLines = [&text](int count, const std::vector<std::string>& keys, const char* prefix) {
        const int every = count / static_cast<int>(keys.size() + 1);
        std::size_t next = 0;
        for (int i = 1; i < count; ++i) {
            if (i % every == 0 && next < keys.size())
                text += keys[next++] + "=The translated caption number " + std::to_string(i) + "\r\n";
            else
                text += prefix + std::to_string(i) + "=Some text that a translator wrote, line " + std::to_string(i) + "\r\n";
        }
    };
    addLines(textLines - 1, TextKeys, "Filler");
    text += "[Errors]\r\n";
    addLines(lines - textLines - 1, ErrorKeys, "ErrorFiller");
    return text;
}

struct LanguageFolder {
    LanguageFolder()
    {
        folder.write("Languages/lang.ini", "[Languages]\r\nEnglish=big.lng\r\n");
        folder.write("Languages/big.lng", bigLanguageFile(LanguageFileLines));
    }
    std::string index() const { return folder.path() + "Languages/lang.ini"; }
    std::string langDir() const { return folder.path() + "languages/"; }
    ProgramFolder folder;
};

// What start-up does: read the index, load the language, look every key up.
void BM_LanguageLoadAndLookUp(benchmark::State& state)
{
    LanguageFolder files;
    for (auto _ : state) {
        vexor::TLanguage language(files.index(), files.langDir());
        language.LoadLanguage("English");
        for (const std::string& key : TextKeys)
            benchmark::DoNotOptimize(language.Text(key));
        for (const std::string& key : ErrorKeys)
            benchmark::DoNotOptimize(language.ErrorText(key));
    }
}
BENCHMARK(BM_LanguageLoadAndLookUp)->Unit(benchmark::kMillisecond);

// One lookup in the loaded 10,000-line file (a key near the end of "Texts").
void BM_LanguageLookUp(benchmark::State& state)
{
    LanguageFolder files;
    vexor::TLanguage language(files.index(), files.langDir());
    language.LoadLanguage("English");
    for (auto _ : state)
        benchmark::DoNotOptimize(language.Text("LDSuccess"));
}
BENCHMARK(BM_LanguageLookUp)->Unit(benchmark::kMicrosecond);

vexor::Constants filledConstants(const std::string& appDir)
{
    vexor::Constants c;
    vexor::InitializeConstants(c, appDir);
    c.SetProxy({ "proxy.example.com", 3128, "user", "pass=word;1" });
    for (int i = 0; i < vexor::BannerSlotCount; ++i) {
        c.BannerIds[i] = "00012" + std::to_string(i);
        c.BannerCounts[i] = 1000 * i;
    }
    return c;
}

// Close and next start: write every key, then read them all back.
void BM_SettingsRoundTrip(benchmark::State& state)
{
    ProgramFolder folder;
    vexor::Constants c = filledConstants(folder.path());
    vexor::Constants back = c;
    const vexor::WindowSettings window { "English", 100, 200 };
    for (auto _ : state) {
        vexor::WriteSettings(c, window);
        benchmark::DoNotOptimize(vexor::ReadSettings(back));
    }
}
BENCHMARK(BM_SettingsRoundTrip)->Unit(benchmark::kMillisecond);

void BM_SettingsWrite(benchmark::State& state)
{
    ProgramFolder folder;
    const vexor::Constants c = filledConstants(folder.path());
    for (auto _ : state)
        vexor::WriteSettings(c, { "English", 100, 200 });
}
BENCHMARK(BM_SettingsWrite)->Unit(benchmark::kMillisecond);

void BM_SettingsRead(benchmark::State& state)
{
    ProgramFolder folder;
    vexor::Constants c = filledConstants(folder.path());
    vexor::WriteSettings(c, { "English", 100, 200 });
    for (auto _ : state)
        benchmark::DoNotOptimize(vexor::ReadSettings(c));
}
BENCHMARK(BM_SettingsRead)->Unit(benchmark::kMicrosecond);

void BM_SettingsToInt(benchmark::State& state)
{
    const std::string texts[] = { "10000", "-2147483648", "$FFFFFFFF", "0x2710", "10s" };
    for (auto _ : state) {
        for (const std::string& text : texts)
            benchmark::DoNotOptimize(vexor::settingsToInt(text, 0));
    }
}
BENCHMARK(BM_SettingsToInt);

}  // namespace

BENCHMARK_MAIN();
