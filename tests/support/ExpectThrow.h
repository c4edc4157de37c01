// Checks that a statement throws exactly the given standard exception type
// (not a type derived from it) with exactly the given text (or, with
// throwsStartingWith, a text that begins with it).
//
//   EXPECT_TRUE(throwsExactly<std::logic_error>([&] { AC5Card card(0x221); }, "..."));
//   TAVEX_EXPECT_THROW_TEXT(AC5Card(0x221), std::logic_error, "...");
#ifndef TAVEX_TESTS_SUPPORT_EXPECTTHROW_H
#define TAVEX_TESTS_SUPPORT_EXPECTTHROW_H

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <typeinfo>

namespace ExpectThrowDetail {

// Runs f, which must throw exactly the exception type E, with the text
// (whole) or with a text that begins with it.
template <class E>
::testing::AssertionResult check(const std::function<void()>& f, const char* text, bool whole) {
    try {
        f();
    } catch (const std::exception& e) {
        if (typeid(e) != typeid(E))
            return ::testing::AssertionFailure()
                   << "threw " << typeid(e).name() << " (\"" << e.what() << "\") instead of "
                   << typeid(E).name();
        const int differs =
            whole ? std::strcmp(text, e.what()) : std::strncmp(text, e.what(), std::strlen(text));
        if (differs != 0)
            return ::testing::AssertionFailure() << "text \"" << e.what() << "\" instead of \""
                                                 << text << (whole ? "\"" : "...\"");
        return ::testing::AssertionSuccess();
    } catch (...) {
        return ::testing::AssertionFailure() << "threw something that is no std::exception";
    }
    return ::testing::AssertionFailure() << "did not throw";
}

}  // namespace ExpectThrowDetail

// Runs f, which must throw exactly the exception type E with the text.
// The text is compared as characters: building a std::string here would
// allocate in the runtime DLL and free in the program on Windows, which
// unbalances the allocation counter of the test that checks for leaks.
template <class E>
::testing::AssertionResult throwsExactly(const std::function<void()>& f, const char* text) {
    return ExpectThrowDetail::check<E>(f, text, true);
}

template <class E>
::testing::AssertionResult throwsExactly(const std::function<void()>& f, const std::string& text) {
    return throwsExactly<E>(f, text.c_str());
}

// The same for a text that begins with the given one: where a native
// platform puts the system's reason after the library's text.
template <class E>
::testing::AssertionResult throwsStartingWith(const std::function<void()>& f, const char* text) {
    return ExpectThrowDetail::check<E>(f, text, false);
}

#define TAVEX_EXPECT_THROW_TEXT(statement, Type, text) \
    EXPECT_TRUE(throwsExactly<Type>([&] { statement; }, text)) << "from: " #statement

#endif
