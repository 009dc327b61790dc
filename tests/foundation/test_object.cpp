#include <zelm/Array.h>
#include <zelm/Object.h>
#include <zelm/String.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zelm::testing_object {
namespace {

// Counts the destructor runs of its objects.
class CTracked : public CObject {
public:
    explicit CTracked(int& destroyed) : m_destroyed(destroyed) {}
    ~CTracked() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

class IShape : public virtual IBase {
public:
    virtual int corners() const = 0;
};

class INamed : public virtual IBase {
public:
    virtual const char* name() const = 0;
};

class CSquare : public CTracked, public virtual IShape, public virtual INamed {
public:
    using CTracked::CTracked;
    int corners() const override { return 4; }
    const char* name() const override { return "square"; }
};

// Passes itself through a P while being destroyed.
class CTouchesItselfInDestructor : public CObject {
public:
    explicit CTouchesItselfInDestructor(int& destroyed) : m_destroyed(destroyed) {}
    ~CTouchesItselfInDestructor() override {
        P<CTouchesItselfInDestructor> again = P<CTouchesItselfInDestructor>::share(this);
        again.reset();
        ++m_destroyed;
    }

private:
    int& m_destroyed;
};

TEST(ReferenceCounting, FreshObjectReleasedOnceIsDestroyed) {
    int destroyed = 0;
    auto* object = new CTracked(destroyed);
    EXPECT_EQ(object->getRefCount(), 1);
    object->release();
    EXPECT_EQ(destroyed, 1);
}

TEST(ReferenceCounting, CopyInSecondHolderSurvivesFirstRelease) {
    int destroyed = 0;
    P<CTracked> first(new CTracked(destroyed));
    P<CTracked> second = first;
    EXPECT_EQ(first->getRefCount(), 2);
    first.reset();
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(second->getRefCount(), 1);
    second.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(ReferenceCounting, SelfAssignmentKeepsTheObject) {
    int destroyed = 0;
    P<CTracked> holder(new CTracked(destroyed));
    P<CTracked>& alias = holder;
    holder = alias;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(holder->getRefCount(), 1);
    holder = std::move(alias);
    EXPECT_EQ(destroyed, 0);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->getRefCount(), 1);
}

TEST(ReferenceCounting, DestructorPassingItselfThroughAHolderDestroysOnce) {
    int destroyed = 0;
    P<CTouchesItselfInDestructor> holder(new CTouchesItselfInDestructor(destroyed));
    holder.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(Holders, ClassHolderConvertsToInterfaceHolders) {
    int destroyed = 0;
    P<CSquare> square(new CSquare(destroyed));
    P<IShape> shape = square;
    EXPECT_EQ(square->getRefCount(), 2);
    EXPECT_EQ(shape->corners(), 4);
    P<IBase> base = std::move(shape);
    EXPECT_FALSE(shape);
    EXPECT_EQ(square->getRefCount(), 2);
    P<INamed> named = P<INamed>::dynamicCast(base);
    ASSERT_TRUE(named);
    EXPECT_STREQ(named->name(), "square");
    EXPECT_EQ(square->getRefCount(), 3);
    const P<IBase> none = P<IShape>(P<CSquare>());
    EXPECT_TRUE(none == nullptr);
}

TEST(ReferenceCountingThreads, ConcurrentCopiesBalance) {
    int destroyed = 0;
    P<CTracked> shared(new CTracked(destroyed));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 10000; ++i) {
                P<CTracked> copy = shared;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(shared->getRefCount(), 1);
    EXPECT_EQ(destroyed, 0);
}

} // namespace
} // namespace zelm::testing_object
