#include "single_instance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QUuid>

using miravox::SingleInstance;

TEST(SingleInstance, ASecondCopyFindsTheFirstAndAsksItToRestore) {
    const QString key = SingleInstance::key_for("/station/" + QUuid::createUuid().toString());
    SingleInstance first(key);
    EXPECT_FALSE(first.another_is_running());
    int restored = 0;
    ASSERT_TRUE(first.listen([&] { ++restored; }));

    SingleInstance second(key);
    EXPECT_TRUE(second.another_is_running());
    QDeadlineTimer deadline(3000);
    while (restored == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(restored, 1);
}

TEST(SingleInstance, StationsInOtherFoldersRunSideBySide) {
    EXPECT_NE(SingleInstance::key_for("/a/"), SingleInstance::key_for("/b/"));
    const QString key = SingleInstance::key_for("/station/" + QUuid::createUuid().toString());
    SingleInstance first(key);
    ASSERT_TRUE(first.listen([] {}));
    SingleInstance other(SingleInstance::key_for("/elsewhere/" + QUuid::createUuid().toString()));
    EXPECT_FALSE(other.another_is_running());
}
