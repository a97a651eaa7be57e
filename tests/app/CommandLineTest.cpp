// The command line as a user types it: what starts the program, what answers and exits, and
// what is refused with exit code 2 and a message on standard error.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace norv::app {
namespace {

// A mutable argv as main gets it; a copy has its own.
class Arguments {
public:
    Arguments(std::initializer_list<std::string> words) : Arguments(std::vector(words)) {}
    explicit Arguments(std::vector<std::string> words) : words_(std::move(words)) {
        for (std::string& word : words_)
            pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
        argc = static_cast<int>(words_.size());
        argv = pointers_.data();
    }
    Arguments(const Arguments& other) : Arguments(other.words_) {}
    Arguments& operator=(const Arguments&) = delete;

    std::vector<std::string> left() const { return {argv + 1, argv + argc}; }

    int argc;
    char** argv;

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

struct Outcome {
    std::optional<int> exitCode;
    std::string out;
    std::string err;
    int versionCalls = 0;
    std::vector<std::string> left;
};

Outcome parse(Arguments arguments, GOptionGroup* group = nullptr) {
    CommandLine commandLine("Opens a page.", "Debug with G_MESSAGES_DEBUG.");
    if (group)
        commandLine.addGroup(group);
    Outcome outcome;
    std::ostringstream out, err;
    outcome.exitCode = commandLine.parse(
        arguments.argc, arguments.argv,
        [&] {
            ++outcome.versionCalls;
            return std::string("Norv View 1.5.0.0\nWebKitGTK 2.0.0");
        },
        out, err);
    outcome.out = out.str();
    outcome.err = err.str();
    outcome.left = arguments.left();
    return outcome;
}

// A toolkit group with one option that takes a value, as GTK's --display does.
gchar* displayName = nullptr;
GOptionGroup* toolkitGroup() {
    static const GOptionEntry entries[] = {
        {"display", 0, 0, G_OPTION_ARG_STRING, &displayName, "X display to use", "DISPLAY"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    GOptionGroup* group =
        g_option_group_new("toolkit", "Toolkit", "Toolkit options", nullptr, nullptr);
    g_option_group_add_entries(group, entries);
    return group;
}

TEST(CommandLineTest, TheRestartOptionAndPlainArgumentsStartTheProgram) {
    for (Arguments arguments : {Arguments{"norv-view"}, Arguments{"norv-view", "-r"},
                                Arguments{"norv-view", "page.htm", "-r"},
                                Arguments{"norv-view", "--restart", "--", "-x"}}) {
        const Outcome outcome = parse(arguments);
        EXPECT_EQ(outcome.exitCode, std::nullopt) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.versionCalls, 0);
        // The option is taken off; what is no option stays for the program to ignore.
        for (const std::string& word : outcome.left)
            EXPECT_TRUE(word != "-r" && word != "--restart") << word;
    }
    EXPECT_EQ(parse({"norv-view", "page.htm", "-r"}).left, std::vector<std::string>{"page.htm"});
}

TEST(CommandLineTest, VersionPrintsTheVersionsOnStandardOutputAndExitsZero) {
    for (Arguments arguments :
         {Arguments{"norv-view", "--version"}, Arguments{"norv-view", "-r", "--version"}}) {
        const Outcome outcome = parse(arguments);
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.out, "Norv View 1.5.0.0\nWebKitGTK 2.0.0\n");
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.versionCalls, 1);
    }
}

TEST(CommandLineTest, UnknownOptionsAndMissingValuesExitTwoWithAMessageOnStandardError) {
    struct Case {
        Arguments arguments;
        std::string named; // what the message must name
    };
    const std::vector<Case> cases = {
        {{"norv-view", "--frobnicate"}, "--frobnicate"},
        {{"norv-view", "-q"}, "-q"},
        {{"norv-view", "-rq"}, "-rq"},
        {{"norv-view", "--version", "--frobnicate"}, "--frobnicate"},
        {{"norv-view", "--display"}, "--display"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = parse(c.arguments, toolkitGroup());
        SCOPED_TRACE(c.named);
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.versionCalls, 0);
        EXPECT_NE(outcome.err.find(c.named), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("--help\" for more information.\n"), std::string::npos)
            << outcome.err;
    }
}

TEST(CommandLineTest, AnAddedGroupReadsItsOwnOptions) {
    const Outcome outcome = parse({"norv-view", "--display", ":7", "-r"}, toolkitGroup());
    EXPECT_EQ(outcome.exitCode, std::nullopt) << outcome.err;
    ASSERT_NE(displayName, nullptr);
    EXPECT_STREQ(displayName, ":7");
    EXPECT_TRUE(outcome.left.empty());
    g_clear_pointer(&displayName, g_free);
}

} // namespace
} // namespace norv::app
