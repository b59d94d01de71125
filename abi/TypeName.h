#pragma once

#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <cxxabi.h>

// A type as the probe prints it: the same text from every compiler and
// target for the same declaration, so that two reports compare line by line.
// Classes, enumerations and fundamental types are spelled as the C++ runtime
// demangles them; std::string and the templates below by their usual names.

template <class T>
struct TypeName {
    static std::string Text()
    {
        // Through a pointer, so that an incomplete class has a name too.
        const char* mangled = typeid(T*).name();
        int status = 0;
        char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
        std::string text = status == 0 && plain != nullptr ? plain : mangled;
        std::free(plain);
        if (!text.empty() && text.back() == '*') {
            text.pop_back();
        }
        return text;
    }
};

// Spelled by its name, not by the class the library makes of it.
template <>
struct TypeName<std::string> {
    static std::string Text() { return "std::string"; }
};

// const and volatile bind to what they follow: "const int*", "int* const".
template <class T>
std::string Qualified(const char* qualifier)
{
    if constexpr (std::is_pointer_v<T>) {
        return TypeName<T>::Text() + " " + qualifier;
    } else {
        return std::string(qualifier) + " " + TypeName<T>::Text();
    }
}

template <class T>
struct TypeName<const T> {
    static std::string Text() { return Qualified<T>("const"); }
};

template <class T>
struct TypeName<volatile T> {
    static std::string Text() { return Qualified<T>("volatile"); }
};

template <class T>
struct TypeName<const volatile T> {
    static std::string Text() { return Qualified<T>("const volatile"); }
};

template <class T>
struct TypeName<T*> {
    static std::string Text() { return TypeName<T>::Text() + "*"; }
};

template <class T>
struct TypeName<T&> {
    static std::string Text() { return TypeName<T>::Text() + "&"; }
};

template <class T>
struct TypeName<T&&> {
    static std::string Text() { return TypeName<T>::Text() + "&&"; }
};

template <class T, std::size_t N>
struct TypeName<T[N]> {
    static std::string Text() { return TypeName<T>::Text() + "[" + std::to_string(N) + "]"; }
};

// "A, B, C" for the types T...
template <class... T>
std::string TypeList()
{
    std::string text;
    ((text += (text.empty() ? "" : ", ") + TypeName<T>::Text()), ...);
    return text;
}

// Templates of the standard library and Boost, with their default arguments.
template <class... T>
std::string Instance(const char* name)
{
    return std::string(name) + "<" + TypeList<T...>() + ">";
}

template <class T>
struct TypeName<std::vector<T, std::allocator<T>>> {
    static std::string Text() { return Instance<T>("std::vector"); }
};

template <class K, class V>
struct TypeName<std::map<K, V, std::less<K>, std::allocator<std::pair<const K, V>>>> {
    static std::string Text() { return Instance<K, V>("std::map"); }
};

template <class T>
struct TypeName<std::shared_ptr<T>> {
    static std::string Text() { return Instance<T>("std::shared_ptr"); }
};

template <class T>
struct TypeName<std::weak_ptr<T>> {
    static std::string Text() { return Instance<T>("std::weak_ptr"); }
};

template <class T>
struct TypeName<boost::shared_ptr<T>> {
    static std::string Text() { return Instance<T>("boost::shared_ptr"); }
};
