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
