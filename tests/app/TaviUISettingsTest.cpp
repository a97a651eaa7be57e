#include "app/TaviUISettings.h"

#include <gtest/gtest.h>

#include <ostream>

namespace norv::app {
namespace {

using Getter = com::HRESULT (TaviUISettings::*)(com::Bstr*);
using Setter = com::HRESULT (TaviUISettings::*)(const com::Bstr&);

struct Property {
    const char* name;
    Getter get;
    Setter put;
};

// Names the case in test listings (the default printer would show the member pointers'
// bytes, which change from build to build).
void PrintTo(const Property& p, std::ostream* os) {
    *os << p.name;
}

class TaviUISettingsTest : public ::testing::TestWithParam<Property> {
protected:
    com::ComPtr<TaviUISettings> settings = com::makeObject<TaviUISettings>();
};

TEST_P(TaviUISettingsTest, StartsAsTheEmptyTextNotAnAbsentOne) {
    com::Bstr value;
    EXPECT_EQ((settings.get()->*GetParam().get)(&value), com::S_OK);
    EXPECT_FALSE(value.isNull());
    EXPECT_EQ(value.length(), 0u);
    EXPECT_EQ((settings.get()->*GetParam().get)(nullptr), com::E_POINTER);
}

TEST_P(TaviUISettingsTest, KeepsAnExactCopy) {
    const std::u16string text(u"A\0B\0", 4);
    EXPECT_EQ((settings.get()->*GetParam().put)(com::Bstr(text)), com::S_OK);
    com::Bstr value;
    EXPECT_EQ((settings.get()->*GetParam().get)(&value), com::S_OK);
    EXPECT_EQ(value.length(), 4u);
    EXPECT_EQ(value.str(), text);

    EXPECT_EQ((settings.get()->*GetParam().put)(com::Bstr()), com::S_OK);
    EXPECT_EQ((settings.get()->*GetParam().get)(&value), com::S_OK);
    EXPECT_TRUE(value.isNull());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TaviUISettingsTest,
    ::testing::Values(Property{"splashScreenURI", &TaviUISettings::get_splashScreenURI,
                               &TaviUISettings::put_splashScreenURI},
                      Property{"errorDialogURI", &TaviUISettings::get_errorDialogURI,
                               &TaviUISettings::put_errorDialogURI},
                      Property{"dialogSettingsDefault", &TaviUISettings::get_dialogSettingsDefault,
                               &TaviUISettings::put_dialogSettingsDefault}),
    [](const ::testing::TestParamInfo<Property>& info) { return std::string(info.param.name); });

TEST(TaviUISettingsTexts, AreIndependentOfEachOther) {
    auto settings = com::makeObject<TaviUISettings>();
    settings->put_splashScreenURI(com::Bstr(u"STARTUPSPLASH.HTM"));
    settings->put_errorDialogURI(com::Bstr(u"CONNECTIONERROR.HTM"));
    com::Bstr splash, error, declaration;
    settings->get_splashScreenURI(&splash);
    settings->get_errorDialogURI(&error);
    settings->get_dialogSettingsDefault(&declaration);
    EXPECT_EQ(splash, com::Bstr(u"STARTUPSPLASH.HTM"));
    EXPECT_EQ(error, com::Bstr(u"CONNECTIONERROR.HTM"));
    EXPECT_EQ(declaration, com::Bstr::empty());
}

} // namespace
} // namespace norv::app
