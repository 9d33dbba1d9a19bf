// Text signatures: the line at the start of a docstring from which the interpreter takes a
// callable's __text_signature__, built at compile time from the parameter list that argument
// matching uses, so that what help() shows and what a call accepts cannot drift apart.
//
// A method's docstring is "name($self, a, b)\n--\n\n"; a class's is
// "Name(a, b=None)\n--\n\n", each optional parameter of the constructor shown with the text
// of its default. Nothing follows the signature: the classes carry no other documentation.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace quorvane::binding {

namespace detail {

// Writes text at `out`, or only counts it when `out` is null.
struct TextOut {
  char* out = nullptr;
  size_t size = 0;

  constexpr void put(const char* text) {
    for (; *text != '\0'; ++text, ++size) {
      if (out) out[size] = *text;
    }
  }
};

// The text that Writer::write(TextOut&) puts, as a NUL-terminated array made at compile time.
template <class Writer>
inline constexpr auto kWrittenText = [] {
  constexpr size_t size = [] {
    TextOut counter;
    Writer::write(counter);
    return counter.size;
  }();
  std::array<char, size + 1> chars{};  // the last stays '\0'
  TextOut text{chars.data()};
  Writer::write(text);
  return chars;
}();

// `defaults` holds the default texts of the last defaults.size() parameters.
constexpr void write_text_signature(TextOut& text, const char* name, bool method,
                                    std::span<const char* const> parameters,
                                    std::span<const char* const> defaults) {
  text.put(name);
  text.put(method ? "($self" : "(");
  const size_t first_default = parameters.size() - defaults.size();
  for (size_t i = 0; i < parameters.size(); ++i) {
    if (method || i > 0) text.put(", ");
    text.put(parameters[i]);
    if (i >= first_default) {
      text.put("=");
      text.put(defaults[i - first_default]);
    }
  }
  text.put(")\n--\n\n");
}

template <class M>
struct MethodDoc {
  static constexpr void write(TextOut& text) {
    write_text_signature(text, M::kName, true, M::kParameters, {});
  }
};

template <class Constructor>
constexpr std::span<const char* const> defaults_of() {
  if constexpr (requires { Constructor::kDefaults; }) {
    return Constructor::kDefaults;
  } else {
    return {};
  }
}

template <class Class>
struct ClassDoc {
  static constexpr void write(TextOut& text) {
    using Constructor = typename Class::Constructor;
    write_text_signature(text, Class::kName, false, Constructor::kParameters,
                         defaults_of<Constructor>());
  }
};

}  // namespace detail

// The docstring of method M (a method description, see method.h).
template <class M>
inline constexpr const char* kMethodDoc = detail::kWrittenText<detail::MethodDoc<M>>.data();

// The docstring of a class: Class::kName, then the parameters of its constructor
// Class::Constructor (a method description whose optional parameters have their default
// texts in Constructor::kDefaults).
template <class Class>
inline constexpr const char* kClassDoc = detail::kWrittenText<detail::ClassDoc<Class>>.data();

}  // namespace quorvane::binding
