// Checks that a statement throws exactly the given standard exception type
// (not a type derived from it) with exactly the given text.
#ifndef TAVEX_TESTS_SUPPORT_EXPECTTHROW_H
#define TAVEX_TESTS_SUPPORT_EXPECTTHROW_H

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <typeinfo>

#define TAVEX_EXPECT_THROW_TEXT(statement, Type, text)                                   \
    do {                                                                                 \
        try {                                                                            \
            statement;                                                                   \
            ADD_FAILURE() << "no exception from: " #statement;                           \
        } catch (const std::exception& thrown_) {                                        \
            EXPECT_TRUE(typeid(thrown_) == typeid(Type))                                 \
                << #statement " threw " << typeid(thrown_).name() << ", expected " #Type; \
            EXPECT_EQ(std::string(text), thrown_.what());                                \
        } catch (...) {                                                                  \
            ADD_FAILURE() << #statement " threw something that is not std::exception";   \
        }                                                                                \
    } while (0)

#endif
