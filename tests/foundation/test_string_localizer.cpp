#include "zelm/StringLocalizer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "zelm/Exception.h"

using zelm::CInvalidArgError;
using zelm::CStringLocalizer;
using zelm::IStringLocalizer;
using zelm::P;
using zelm::String;

namespace {

std::string lookUp(IStringLocalizer& localizer, const char* id, const char* defaultText) {
    return localizer.localize(id, defaultText).toStdString();
}

// A localizer of another class, answering one fixed text for everything.
class CFixedLocalizer : public zelm::CObject, public virtual IStringLocalizer {
public:
    String localize(const String&, const String&) override { return "fixed"; }
};

} // namespace

TEST(StringLocalizerLookup, StoredTextWinsAndCanBeRemoved) {
    const P<CStringLocalizer> localizer(new CStringLocalizer());
    localizer->setText("zelm.A.Desc", "first");
    localizer->setText("zelm.A.Desc", L"zweite \u00fcbersetzung");
    EXPECT_EQ(lookUp(*localizer, "zelm.A.Desc", "default"), "zweite \u00fcbersetzung");
    EXPECT_EQ(lookUp(*localizer, "zelm.A.desc", "default"), "default");
    localizer->removeText("zelm.A.Desc");
    EXPECT_EQ(lookUp(*localizer, "zelm.A.Desc", "default"), "default");
}

TEST(StringLocalizerLookup, IdentifiersMatchWhateverTheirEncoding) {
    const P<CStringLocalizer> localizer(new CStringLocalizer());
    localizer->setText(L"zelm.Gr\u00fc\u00dfe.Desc", "hello");
    EXPECT_EQ(localizer->localize(String::fromUTF32(U"zelm.Gr\u00fc\u00dfe.Desc"), "default")
                  .toStdString(),
              "hello");
}

TEST(StringLocalizerParents, MissingEntriesAreAskedOfTheParent) {
    const P<CStringLocalizer> parent(new CStringLocalizer());
    const P<CStringLocalizer> child(new CStringLocalizer());
    parent->setText("zelm.X.Desc", "from parent");
    parent->setText("zelm.Y.Desc", "parent's y");
    child->setText("zelm.Y.Desc", "child's y");
    child->setParent(parent);
    EXPECT_EQ(lookUp(*child, "zelm.X.Desc", "default"), "from parent");
    EXPECT_EQ(lookUp(*child, "zelm.Y.Desc", "default"), "child's y");
    EXPECT_EQ(lookUp(*child, "zelm.Z.Desc", "default"), "default");
    child->setParent(P<IStringLocalizer>());
    EXPECT_EQ(lookUp(*child, "zelm.X.Desc", "default"), "default");
}

TEST(StringLocalizerParents, ParentOfAnotherClassIsAsked) {
    const P<CStringLocalizer> child(new CStringLocalizer());
    child->setParent(P<IStringLocalizer>(new CFixedLocalizer()));
    EXPECT_EQ(lookUp(*child, "zelm.X.Desc", "default"), "fixed");
}

TEST(StringLocalizerParents, CyclesAreRefused) {
    const P<CStringLocalizer> a(new CStringLocalizer());
    const P<CStringLocalizer> b(new CStringLocalizer());
    const P<CStringLocalizer> c(new CStringLocalizer());
    EXPECT_THROW(a->setParent(a), CInvalidArgError);
    b->setParent(a);
    c->setParent(b);
    EXPECT_THROW(a->setParent(c), CInvalidArgError);
    EXPECT_EQ(lookUp(*c, "zelm.X.Desc", "default"), "default");
    b->setParent(P<IStringLocalizer>());
}

TEST(StringLocalizerGlobal, OneProcessWideInstanceBehindTheFreeFunction) {
    const P<CStringLocalizer>& global = zelm::getStringLocalizer();
    ASSERT_TRUE(global);
    EXPECT_EQ(global.get(), zelm::getStringLocalizer().get());
    EXPECT_EQ(zelm::localize("zelm.Test.Unknown", "untranslated %X%").toStdString(),
              "untranslated %X%");
    global->setText("zelm.Test.Known", "translated");
    EXPECT_EQ(zelm::localize("zelm.Test.Known", "d").toStdString(), "translated");
    global->removeText("zelm.Test.Known");
}

TEST(StringLocalizerThreads, ConcurrentReadersAndWritersSeeWholeTexts) {
    const P<CStringLocalizer> localizer(new CStringLocalizer());
    const P<CStringLocalizer> parent(new CStringLocalizer());
    parent->setText("zelm.P.Desc", "parent");
    localizer->setParent(parent);
    std::vector<std::thread> threads;
    std::vector<int> bad(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 == 0) {
                    localizer->setText("zelm.T.Desc", i % 2 == 0 ? "even" : "odd");
                    localizer->removeText("zelm.Gone.Desc");
                }
                const std::string value = lookUp(*localizer, "zelm.T.Desc", "default");
                const std::string fromParent = lookUp(*localizer, "zelm.P.Desc", "default");
                bad[static_cast<std::size_t>(t)] +=
                    (value != "even" && value != "odd" && value != "default") ||
                    fromParent != "parent";
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(bad, std::vector<int>(4, 0));
}
