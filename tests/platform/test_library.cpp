#include "platform/library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

using namespace vexor::platform;

namespace {

const std::string LibraryPath = VEXOR_TEST_LIBRARY;

std::string folderOf(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

std::string nameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

TEST(Library, LoadCallAndFree)
{
    std::string error;
    LibraryHandle library = loadLibrary(LibraryPath, &error);
    ASSERT_NE(library, nullptr) << error;
    auto answer = reinterpret_cast<int (*)()>(libraryEntry(library, "vexorTestAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(libraryEntry(library, "DajOkno"), nullptr);  // a missing export
    EXPECT_EQ(libraryEntry(library, "VEXORTESTANSWER"), nullptr);  // names are exact
    freeLibrary(library);
}

TEST(Library, FailuresGiveNullAndText)
{
    std::string error;
    EXPECT_EQ(loadLibrary("/nonexistent/Notes.mdl", &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(loadLibrary("", &error), nullptr);
    EXPECT_EQ(loadLibrary(VEXOR_SOURCE_DIR "/tests/platform/testlibrary.cpp", nullptr), nullptr);  // not a library
    EXPECT_EQ(libraryEntry(nullptr, "x"), nullptr);
    freeLibrary(nullptr);
}

// A name without "/" means the file in the current folder, never a library
// found through the search path.
TEST(Library, BareNameIsTakenFromTheCurrentFolder)
{
    char* previous = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(folderOf(LibraryPath).c_str()), 0);
    LibraryHandle library = loadLibrary(nameOf(LibraryPath));
    EXPECT_NE(library, nullptr);
    freeLibrary(library);
    std::string error;
    EXPECT_EQ(loadLibrary("libc.so.6", &error), nullptr);
    EXPECT_NE(error.find("./libc.so.6"), std::string::npos) << error;
    ASSERT_EQ(::chdir(previous), 0);
    std::free(previous);
}
