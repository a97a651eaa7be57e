// The README's list of the script API against what script really reaches: every interface
// of the type library with every member it describes, and the members of window.tavi itself
// as the bridge script makes it. A member the README leaves out, one it names that does not
// exist, or one written as a call that is not (or the other way round) fails the test, which
// prints the row the README should hold.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "host/ExtInitScript.h"
#include "typelib/NorvViewLib.h"

namespace norv::typelib {
namespace {

using com::FuncInfo;
using com::InterfaceInfo;
using com::InvokeKind;

std::string narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// How script writes a member: "name()" when it is called (a method, or a property with an
// index: `eq.gainLevels(3)`), "name" when it is read or assigned.
std::string spelling(const FuncInfo& f) {
    const bool called = f.kind == InvokeKind::Method ||
                        (f.kind == InvokeKind::PropertyGet && !f.params.empty()) ||
                        (f.kind != InvokeKind::PropertyGet && f.params.size() > 1);
    return narrow(f.name) + (called ? "()" : "");
}

// The members an interface describes itself (its described base's come first in `funcs`).
std::set<std::string> ownMembers(const InterfaceInfo& info) {
    std::set<std::string> names;
    const std::size_t inherited = info.base ? info.base->funcs.size() : 0;
    for (std::size_t i = inherited; i < info.funcs.size(); ++i)
        names.insert(spelling(info.funcs[i]));
    return names;
}

// The members of the object the bridge script assigns to window.tavi: the keys at the top
// level of its object literal, "name()" for a function.
std::set<std::string> taviMembers() {
    const std::string script = narrow(host::kExtInitScript);
    const std::string start = "wnd.tavi = {";
    std::set<std::string> names;
    std::size_t at = script.find(start);
    if (at == std::string::npos)
        return names;
    int depth = 0;
    std::string word;
    for (at += start.size(); at < script.size() && depth >= 0; ++at) {
        const char c = script[at];
        if (c == '{')
            ++depth;
        else if (c == '}')
            --depth;
        if (depth == 0 && c == ':' && !word.empty()) {
            const bool function = script.compare(at + 1, 9, " function") == 0;
            names.insert(word + (function ? "()" : ""));
        }
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_')
            word += c;
        else if (c != ' ')
            word.clear();
    }
    return names;
}

// The rows of the README's table of the script API: the first cell's `name` and every
// `member` of the last cell.
std::map<std::string, std::vector<std::string>> readmeRows() {
    std::ifstream in(NORV_README);
    std::map<std::string, std::vector<std::string>> rows;
    bool inSection = false;
    const std::regex code("`([^`]+)`");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("## "))
            inSection = line == "## The script API";
        if (!inSection || !line.starts_with("| `"))
            continue;
        const std::string first = line.substr(3, line.find('`', 3) - 3);
        const std::string members = line.substr(line.rfind('|', line.size() - 2));
        auto& row = rows[first];
        for (std::sregex_iterator m(members.begin(), members.end(), code), end; m != end; ++m)
            row.push_back((*m)[1]);
    }
    return rows;
}

std::string row(const std::string& name, const std::set<std::string>& members) {
    std::string out = "| `" + name + "` | ... |";
    const char* separator = " ";
    for (const std::string& m : members) {
        out += separator + ("`" + m + "`");
        separator = ", ";
    }
    return out + " |";
}

void expectListed(const std::map<std::string, std::vector<std::string>>& rows,
                  const std::string& name, const std::set<std::string>& members) {
    auto it = rows.find(name);
    if (it == rows.end()) {
        ADD_FAILURE() << name << " is not in the README's script API; its row:\n"
                      << row(name, members);
        return;
    }
    const std::set<std::string> listed(it->second.begin(), it->second.end());
    EXPECT_EQ(listed.size(), it->second.size()) << name << " names a member twice";
    for (const std::string& m : members)
        EXPECT_TRUE(listed.contains(m)) << name << "." << m << " is missing; the row:\n"
                                        << row(name, members);
    for (const std::string& m : listed)
        EXPECT_TRUE(members.contains(m))
            << "the README names " << name << "." << m << ", which script cannot reach; the row:\n"
            << row(name, members);
}

TEST(ReadmeScriptApiTest, ListsEveryInterfaceAndMemberScriptReachesAndNothingElse) {
    const auto rows = readmeRows();
    ASSERT_FALSE(rows.empty()) << "no table under \"## The script API\" in " << NORV_README;

    std::set<std::string> known{"window.tavi"};
    expectListed(rows, "window.tavi", taviMembers());
    EXPECT_TRUE(taviMembers().contains("nativeWindow()")) << narrow(host::kExtInitScript);
    for (const InterfaceInfo* info : norvViewLibInfo().interfaces) {
        const std::string name = narrow(info->name);
        known.insert(name);
        expectListed(rows, name, ownMembers(*info));
    }
    for (const auto& [name, members] : rows)
        EXPECT_TRUE(known.contains(name))
            << "the README lists " << name << ", which is not in the type library";
}

TEST(ReadmeScriptApiTest, SpellsIndexedPropertiesAndMethodsAsCalls) {
    // The spelling rule itself, on members whose use the README's other sections show.
    const auto eq = ownMembers(IMPEqualizer::interfaceInfo());
    EXPECT_TRUE(eq.contains("gainLevels()"));
    EXPECT_TRUE(eq.contains("bypass"));
    EXPECT_TRUE(eq.contains("reset()"));
    EXPECT_FALSE(eq.contains("gainLevels"));
    // A derived interface lists only its own members.
    const auto window = ownMembers(ITaviWindow::interfaceInfo());
    EXPECT_FALSE(window.contains("addEventListener()"));
    EXPECT_TRUE(window.contains("beginMove()"));
}

} // namespace
} // namespace norv::typelib
