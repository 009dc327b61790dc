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

// Holds a P to itself; releasing it from outside must not leak or destroy twice.
class CSelfOwner : public CTracked {
public:
    using CTracked::CTracked;
    P<CSelfOwner> self;
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

TEST(ReferenceCounting, AssignmentReleasesTheOldTarget) {
    int destroyedA = 0;
    int destroyedB = 0;
    P<CTracked> a(new CTracked(destroyedA));
    P<CTracked> b(new CTracked(destroyedB));
    a = b;
    EXPECT_EQ(destroyedA, 1);
    EXPECT_EQ(b->getRefCount(), 2);
}

TEST(ReferenceCounting, ObjectHoldingItselfIsReleasedByBreakingTheCycle) {
    int destroyed = 0;
    P<CSelfOwner> owner(new CSelfOwner(destroyed));
    owner->self = owner;
    EXPECT_EQ(owner->getRefCount(), 2);
    CSelfOwner* raw = owner.get();
    owner.reset();
    EXPECT_EQ(destroyed, 0);
    raw->self.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(ReferenceCounting, DestructorPassingItselfThroughAHolderDestroysOnce) {
    int destroyed = 0;
    P<CTouchesItselfInDestructor> holder(new CTouchesItselfInDestructor(destroyed));
    holder.reset();
    EXPECT_EQ(destroyed, 1);
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
    P<CSelfOwner> wrong = P<CSelfOwner>::dynamicCast(base);
    EXPECT_FALSE(wrong);
    const P<IBase> none = P<IShape>(P<CSquare>());
    EXPECT_TRUE(none == nullptr);
}

TEST(Holders, ConstHolderCountsLikeP) {
    int destroyed = 0;
    P<CTracked> owner(new CTracked(destroyed));
    {
        PC<CTracked> reader = owner;
        PC<CTracked> copy = reader;
        EXPECT_EQ(owner->getRefCount(), 3);
        copy = reader;
        EXPECT_EQ(owner->getRefCount(), 3);
    }
    EXPECT_EQ(owner->getRefCount(), 1);
    PC<CTracked> last = std::move(owner);
    EXPECT_EQ(last->getRefCount(), 1);
    last.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(Holders, FrailHolderNeverTouchesTheCount) {
    int destroyed = 0;
    P<CTracked> owner(new CTracked(destroyed));
    {
        PFrail<CTracked> frail = PFrail<CTracked>::frail(owner.get());
        PFrail<CTracked> copy = frail;
        EXPECT_FALSE(copy.isStrong());
        EXPECT_EQ(owner->getRefCount(), 1);
        copy.reset();
        EXPECT_EQ(owner->getRefCount(), 1);
    }
    EXPECT_EQ(destroyed, 0);
}

TEST(Holders, StrongFrailHolderOwnsAReference) {
    int destroyed = 0;
    P<CTracked> owner(new CTracked(destroyed));
    PFrail<CTracked> strong(owner);
    EXPECT_TRUE(strong.isStrong());
    EXPECT_EQ(owner->getRefCount(), 2);
    PFrail<CTracked> copy = strong;
    EXPECT_EQ(owner->getRefCount(), 3);
    owner.reset();
    copy.reset();
    EXPECT_EQ(destroyed, 0);
    P<CTracked> locked = strong.lock();
    EXPECT_EQ(locked->getRefCount(), 2);
    locked.reset();
    strong.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectText, SpellsTheMostDerivedClass) {
    int destroyed = 0;
    P<IShape> shape(new CSquare(destroyed));
    EXPECT_EQ(shape->toString().toStdString(),
              "class zelm::testing_object::(anonymous namespace)::CSquare object");
    P<CObject> plain(new CObject());
    EXPECT_EQ(plain->toString().toStdString(), "class zelm::CObject object");
    EXPECT_TRUE(plain->supports(1, 2, 3));
}

TEST(Arrays, HoldersInArraysKeepTheirObjects) {
    int destroyed = 0;
    TSimpleArray<P<CTracked>> array;
    array.add(P<CTracked>(new CTracked(destroyed)));
    array.add(array[0]);
    EXPECT_EQ(array.getCount(), 2);
    EXPECT_EQ(array[0]->getRefCount(), 2);
    EXPECT_EQ(array.indexOf(array[1]), 0);
    array.remove(0);
    EXPECT_EQ(destroyed, 0);
    array.clear();
    EXPECT_EQ(destroyed, 1);
    EXPECT_THROW(array.get(0), CInvalidArgError);
    EXPECT_THROW(array.insert(1, nullptr), CInvalidArgError);
}

TEST(Arrays, CleaningArrayReleasesLastInsertedFirst) {
    std::vector<int> order;
    class CRecorder : public CObject {
    public:
        CRecorder(std::vector<int>& log, int id) : m_log(log), m_id(id) {}
        ~CRecorder() override { m_log.push_back(m_id); }

    private:
        std::vector<int>& m_log;
        int m_id;
    };
    {
        TCleaningSimpleArray<P<CRecorder>> array;
        for (int id = 1; id <= 3; ++id) {
            array.add(makeP<CRecorder>(order, id));
        }
        array.insert(0, makeP<CRecorder>(order, 0));
    }
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 0}));
}

} // namespace
} // namespace zelm::testing_object
