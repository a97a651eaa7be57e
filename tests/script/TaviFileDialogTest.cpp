// The file dialog object: its properties and their rules, what show asks of the desktop's
// dialog, the events and results, and the dialog's open time, with a file chooser that
// stands in for the user.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>

#include "platform/com/ErrorInfo.h"
#include "platform/com/Exceptions.h"
#include "script/TaviFileDialog.h"
#include "tests/platform/web/TestObject.h"

namespace norv::test {
namespace {

using namespace com;
using script::FileChooserRequest;
using script::TaviFileDialog;

constexpr char16_t kShowing[] = u"The dialog is showing now.";
constexpr char16_t kInvalidType[] = u"Invalid dialog type.";

// The user: answers each dialog with `answer` (nullopt: cancels), running `during` while
// the dialog is open.
class User final : public script::FileChooser {
public:
    std::optional<std::u16string> choose(const FileChooserRequest& request) override {
        requests.push_back(request);
        if (during)
            during();
        return answer;
    }
    std::vector<FileChooserRequest> requests;
    std::optional<std::u16string> answer;
    std::function<void()> during;
};

// The error text the thread's last failure left under ITaviFileDialog.
std::u16string errorText() {
    auto info = takeErrorInfo();
    if (!info || info->iid != typelib::ITaviFileDialog::iid)
        return u"<none>";
    return info->description.str();
}

class TaviFileDialogTest : public ::testing::Test {
protected:
    std::u16string text(HRESULT (TaviFileDialog::*get)(Bstr*)) {
        Bstr v;
        EXPECT_EQ(((*dialog).*get)(&v), S_OK);
        return v.str();
    }
    // Listens for both events, noting each with the result seen in it.
    void listen() {
        for (const char16_t* type : {u"apply", u"cancel"}) {
            auto l = makeObject<TestObject>();
            l->defaultMethod([this](std::vector<Variant>& args, Variant*) {
                ComPtr<typelib::IEvent> event =
                    ComPtr<IDispatch>(args.at(0).dispatch()).as<typelib::IEvent>();
                Bstr type;
                ComPtr<IDispatch> target;
                event->get_type(&type);
                event->get_target(target.put());
                events.push_back(type.str() + u" " + text(&TaviFileDialog::get_result));
                EXPECT_TRUE(sameObject(target.get(), dialog.get()));
                if (inListener)
                    inListener();
                return S_OK;
            });
            ASSERT_EQ(dialog->addEventListener(Bstr(type), l.get(), VARIANT_FALSE), S_OK);
        }
    }

    std::shared_ptr<User> user = std::make_shared<User>();
    ComPtr<TaviFileDialog> dialog =
        makeObject<TaviFileDialog>(user, std::weak_ptr<script::DialogOwner>());
    std::vector<std::u16string> events;
    std::function<void()> inListener;
};

TEST_F(TaviFileDialogTest, TypeWordsAndAFreshDialog) {
    EXPECT_EQ(text(&TaviFileDialog::get_type), u"");
    EXPECT_EQ(dialog->show(Variant::missing()), E_ABORT);
    EXPECT_EQ(errorText(), kInvalidType);
    EXPECT_TRUE(user->requests.empty());

    for (const Bstr& wrong : {Bstr(u"Open"), Bstr(u"SAVE"), Bstr(u" open"), Bstr(u""), Bstr(),
                              Bstr(std::u16string(u"open\0", 5))}) {
        EXPECT_EQ(dialog->put_type(wrong), E_INVALIDARG) << wrong.toUtf8();
        EXPECT_EQ(errorText(), kInvalidType);
    }
    EXPECT_EQ(text(&TaviFileDialog::get_type), u"") << "a refused type changes nothing";
    EXPECT_EQ(dialog->put_type(Bstr(u"save")), S_OK);
    EXPECT_EQ(text(&TaviFileDialog::get_type), u"save");
    EXPECT_EQ(dialog->put_type(Bstr(u"open")), S_OK);
    EXPECT_EQ(text(&TaviFileDialog::get_type), u"open");

    EXPECT_EQ(text(&TaviFileDialog::get_TYPE_OPEN), u"open");
    EXPECT_EQ(text(&TaviFileDialog::get_TYPE_SAVE), u"save");
    std::int32_t overwrite = 0;
    EXPECT_EQ(dialog->get_FEATURE_PROMPT_OVERWRITE(&overwrite), S_OK);
    EXPECT_EQ(overwrite, 1);
    EXPECT_EQ(dialog->cancel(), E_NOTIMPL);
    EXPECT_EQ(dialog->get_result(nullptr), E_POINTER);
    EXPECT_EQ(dialog->get_features(nullptr), E_POINTER);
}

TEST_F(TaviFileDialogTest, ShowAsksForWhatScriptSet) {
    dialog->put_type(Bstr(u"save"));
    dialog->put_filter(Bstr(u"Text|*.txt|All|*.*"));
    dialog->put_title(Bstr(u"Keep the report"));
    dialog->put_features(3);
    ASSERT_EQ(dialog->show(Variant::fromBstr(Bstr(u"draft.txt"))), S_OK);
    dialog->put_features(2);
    dialog->put_filter(Bstr());
    ASSERT_EQ(dialog->show(Variant::missing()), S_OK);
    dialog->put_type(Bstr(u"open"));
    dialog->put_features(1);
    ASSERT_EQ(dialog->show(Variant::fromBstr(Bstr(u""))), S_OK);

    ASSERT_EQ(user->requests.size(), 3u);
    const FileChooserRequest& first = user->requests[0];
    EXPECT_TRUE(first.save);
    EXPECT_TRUE(first.promptOverwrite);
    EXPECT_EQ(first.title, u"Keep the report");
    EXPECT_EQ(first.fileName, u"draft.txt");
    ASSERT_EQ(first.filters.size(), 2u);
    EXPECT_EQ(first.filters[1].description, u"All");
    EXPECT_FALSE(user->requests[1].promptOverwrite) << "only bit 0 asks";
    EXPECT_TRUE(user->requests[1].filters.empty());
    EXPECT_FALSE(user->requests[1].fileName);
    EXPECT_FALSE(user->requests[2].save);
    EXPECT_FALSE(user->requests[2].fileName) << "an empty name is no name";
    EXPECT_EQ(text(&TaviFileDialog::get_title), u"Keep the report") << "read back as stored";
}

TEST_F(TaviFileDialogTest, ApplyThenCancel) {
    listen();
    dialog->put_type(Bstr(u"open"));
    user->answer = u"/home/ann/notes.txt";
    ASSERT_EQ(dialog->show(Variant::missing()), S_OK);
    EXPECT_EQ(text(&TaviFileDialog::get_result), u"/home/ann/notes.txt");
    user->answer.reset();
    ASSERT_EQ(dialog->show(Variant::missing()), S_OK);
    EXPECT_EQ(events, (std::vector<std::u16string>{u"apply /home/ann/notes.txt", u"cancel "}));
    EXPECT_EQ(text(&TaviFileDialog::get_result), u"") << "a cancelled show keeps no earlier result";
}

TEST_F(TaviFileDialogTest, NothingChangesWhileTheDialogIsOpenAndNoLockIsHeld) {
    listen();
    dialog->put_type(Bstr(u"open"));
    dialog->put_title(Bstr(u"Before"));
    user->answer = u"/tmp/a";
    std::vector<std::pair<HRESULT, std::u16string>> refused;
    bool finished = false;
    std::future<void> other; // outlives the dialog's run: a blocked thread cannot block it
    user->during = [&] {
        // Another thread: were a lock of the dialog held while it is open, it could not
        // get through.
        other = std::async(std::launch::async, [&] {
            auto put = [&](HRESULT hr) {
                refused.emplace_back(hr, errorText());
            };
            put(dialog->put_title(Bstr(u"During")));
            put(dialog->put_filter(Bstr(u"A|*.a")));
            put(dialog->put_features(1));
            put(dialog->put_type(Bstr(u"save")));
            put(dialog->put_type(Bstr(u"neither"))); // the type check comes first
            EXPECT_TRUE(dialog->isShowing());
            Bstr result;
            dialog->get_result(&result);
            EXPECT_EQ(result.str(), u"") << "emptied when the dialog opened";
        });
        finished = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    };
    inListener = [&] {
        EXPECT_EQ(dialog->put_title(Bstr(u"After")), S_OK);
    };
    ASSERT_EQ(dialog->put_filter(Bstr(u"B|*.b")), S_OK);
    ASSERT_EQ(dialog->show(Variant::missing()), S_OK);

    ASSERT_TRUE(finished);
    const std::pair<HRESULT, std::u16string> showing{E_ABORT, kShowing};
    EXPECT_EQ(refused, (std::vector<std::pair<HRESULT, std::u16string>>{
                           showing, showing, showing, showing, {E_INVALIDARG, kInvalidType}}));
    EXPECT_FALSE(dialog->isShowing());
    EXPECT_EQ(text(&TaviFileDialog::get_title), u"After") << "listeners may change it";
    EXPECT_EQ(text(&TaviFileDialog::get_filter), u"B|*.b");
    EXPECT_EQ(text(&TaviFileDialog::get_type), u"open");
}

TEST_F(TaviFileDialogTest, ANestedShowLeavesTheOuterDialogOpen) {
    // Script that runs while a dialog is open (called by native code meanwhile) may show
    // the same object again; when that inner dialog closes, the outer one is still open.
    dialog->put_type(Bstr(u"open"));
    int depth = 0;
    std::vector<HRESULT> putsInside;
    user->during = [&] {
        if (++depth == 1) {
            ASSERT_EQ(dialog->show(Variant::missing()), S_OK); // nested, while the first is open
            putsInside.push_back(dialog->put_title(Bstr(u"x")));
        }
    };
    ASSERT_EQ(dialog->show(Variant::missing()), S_OK);
    EXPECT_EQ(putsInside, (std::vector<HRESULT>{E_ABORT})) << "the outer dialog is still open";
    EXPECT_EQ(takeErrorInfo()->description.str(), kShowing);
    EXPECT_FALSE(dialog->isShowing());
}

TEST_F(TaviFileDialogTest, ADialogThatFails) {
    listen();
    dialog->put_type(Bstr(u"save"));
    user->during = [] {
        throw DispatchException(u"The desktop has no file chooser.");
    };
    EXPECT_EQ(dialog->show(Variant::missing()), E_FAIL);
    EXPECT_EQ(errorText(), u"The desktop has no file chooser.");
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(dialog->isShowing());
    EXPECT_EQ(dialog->put_title(Bstr(u"Again")), S_OK);
}

TEST_F(TaviFileDialogTest, ScriptReachesItThroughTheTypeLibrary) {
    IDispatch* script = static_cast<typelib::ITaviFileDialog*>(dialog.get());
    listen();
    ASSERT_EQ(putPropertyByName(script, u"type", Variant::fromBstr(Bstr(u"save"))), S_OK);
    ASSERT_EQ(putPropertyByName(script, u"features", Variant::fromI4(1)), S_OK);
    user->answer = u"/tmp/out.txt";
    Variant none;
    ASSERT_EQ(invokeByName(script, u"show", DISPATCH_METHOD, {}, &none), S_OK);
    ASSERT_EQ(user->requests.size(), 1u);
    EXPECT_FALSE(user->requests[0].fileName) << "no argument: no file name";
    EXPECT_TRUE(user->requests[0].promptOverwrite);
    Variant result;
    ASSERT_EQ(invokeByName(script, u"result", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.bstr().str(), u"/tmp/out.txt");
    EXPECT_EQ(events, (std::vector<std::u16string>{u"apply /tmp/out.txt"}));
}

} // namespace
} // namespace norv::test
