// Checks that a statement throws exactly the given standard exception type
// (not a type derived from it) with exactly the given text.
//
//   EXPECT_TRUE(throwsExactly<std::logic_error>([&] { AC5Card card(0x221); }, "..."));
//   TAVEX_EXPECT_THROW_TEXT(AC5Card(0x221), std::logic_error, "...");
#ifndef TAVEX_TESTS_SUPPORT_EXPECTTHROW_H
#define TAVEX_TESTS_SUPPORT_EXPECTTHROW_H

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <typeinfo>

// Runs f, which must throw exactly the exception type E with the text.
template <class E>
::testing::AssertionResult throwsExactly(const std::function<void()>& f, const std::string& text) {
    try {
        f();
    } catch (const std::exception& e) {
        if (typeid(e) != typeid(E))
            return ::testing::AssertionFailure()
                   << "threw " << typeid(e).name() << " (\"" << e.what() << "\") instead of "
                   << typeid(E).name();
        if (text != e.what())
            return ::testing::AssertionFailure()
                   << "text \"" << e.what() << "\" instead of \"" << text << "\"";
        return ::testing::AssertionSuccess();
    } catch (...) {
        return ::testing::AssertionFailure() << "threw something that is no std::exception";
    }
    return ::testing::AssertionFailure() << "did not throw";
}

#define TAVEX_EXPECT_THROW_TEXT(statement, Type, text) \
    EXPECT_TRUE(throwsExactly<Type>([&] { statement; }, text)) << "from: " #statement

#endif
