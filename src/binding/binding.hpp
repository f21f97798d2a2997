// The generic module-function entry point. A table entry names a plain C++ function and its
// Python parameter names; everything between Python and that function is generated here:
// matching, conversion in parameter order with the "while processing" note, the call, the
// result object, and the translation of C++ exceptions.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/results.hpp"
#include "platform/fault_injection.hpp"
#include "pool/worker_pool.hpp"

namespace rc {

template <std::size_t N>
struct FixedString {
    char text[N]{};
    constexpr FixedString(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
    static constexpr std::size_t length = N - 1;
};

// The docstring is the text signature followed by "\n--\n\n"; the interpreter derives
// __text_signature__ (and so inspect.signature) from it.
template <FixedString Name, FixedString... Params>
struct SignatureText {
    static constexpr std::size_t size = [] {
        std::size_t n = Name.length + 1 + 1 + 5;  // "name(" ")" "\n--\n\n"
        std::size_t i = 0;
        ((n += Params.length + (i++ > 0 ? 2 : 0)), ...);
        return n + 1;
    }();
    static constexpr std::array<char, size> text = [] {
        std::array<char, size> out{};
        std::size_t pos = 0;
        auto put = [&](const char* s, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) out[pos++] = s[i];
        };
        put(Name.text, Name.length);
        put("(", 1);
        std::size_t i = 0;
        ((put(", ", i++ > 0 ? 2 : 0), put(Params.text, Params.length)), ...);
        put(")\n--\n\n", 6);
        return out;
    }();
    static constexpr const char* params[sizeof...(Params) + 1] = {Params.text..., nullptr};
};

template <class F>
struct FunctionTraits;
template <class R, class... A>
struct FunctionTraits<R (*)(A...)> {
    using Result = R;
    using Arguments = std::tuple<std::remove_cvref_t<A>...>;
    static constexpr std::size_t arity = sizeof...(A);
};

template <auto Impl, class Text, std::size_t... I>
PyObject* call_converted(const Signature& sig, PyObject** slots, std::index_sequence<I...>) noexcept {
    using Traits = FunctionTraits<decltype(Impl)>;
    std::tuple<Argument<std::tuple_element_t<I, typename Traits::Arguments>>...> arguments;
    // Convert in parameter order; the first failure stops, naming its parameter.
    const bool converted = ([&] {
        if (std::get<I>(arguments).load(slots[I])) return true;
        add_parameter_note(sig.params[I]);
        return false;
    }() && ...);
    if (!converted) return nullptr;
    try {
        pool::ScopedInterruptPoll interrupts(poll_python_signals);
        return to_python(Impl(std::get<I>(arguments).value...)).release();
    } catch (...) {
        set_python_error_from_current_exception();
        return nullptr;
    }
}

template <auto Impl, class Text>
PyObject* vectorcall_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    constexpr std::size_t arity = FunctionTraits<decltype(Impl)>::arity;
    static constexpr Signature sig{Text::name, Text::params, arity};
    fault::CallScope call_scope;
    PyObject* slots[arity > 0 ? arity : 1];
    if (!match_arguments(sig, args, nargs, kwnames, slots)) return nullptr;
    return call_converted<Impl, Text>(sig, slots, std::make_index_sequence<arity>{});
}

template <FixedString Name, FixedString... Params>
struct Named : SignatureText<Name, Params...> {
    static constexpr const char* name = Name.text;
};

// One module function: `define<&kernel_entry, "name", "param", ...>()`. The C++ function's
// parameter types choose the conversions, its return type the result object.
template <auto Impl, FixedString Name, FixedString... Params>
PyMethodDef define() {
    using Text = Named<Name, Params...>;
    static_assert(FunctionTraits<decltype(Impl)>::arity == sizeof...(Params),
                  "every parameter of the function needs a Python name");
    return PyMethodDef{Name.text, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&vectorcall_entry<Impl, Text>)),
                       METH_FASTCALL | METH_KEYWORDS, Text::text.data()};
}

}  // namespace rc
