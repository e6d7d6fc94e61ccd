#pragma once

#include <QHash>
#include <QList>
#include <QVariant>

#include <optional>
#include <type_traits>
#include <utility>

// Block-style helpers over lists and dictionaries. Every callback takes
// (element, index, bool& stop), is called for the elements in order and may set stop to
// end the walk after the current element. "No result" from a callback is an empty
// std::optional, or an invalid QVariant for callbacks over QVariantList.

namespace mm_detail {

template <typename R> struct Maybe;

template <typename U> struct Maybe<std::optional<U>> {
    using Value = U;
    static bool present(const std::optional<U>& result) { return result.has_value(); }
    static U take(std::optional<U>&& result) { return std::move(*result); }
    static std::optional<U> none() { return std::nullopt; }
};

template <> struct Maybe<QVariant> {
    using Value = QVariant;
    static bool present(const QVariant& result) { return result.isValid(); }
    static QVariant take(QVariant&& result) { return std::move(result); }
    static QVariant none() { return QVariant(); }
};

template <typename F, typename T>
using CallbackResult = std::remove_cvref_t<std::invoke_result_t<F&, const T&, qsizetype, bool&>>;

} // namespace mm_detail

// The present results of the callback, in order.
template <typename T, typename F> auto mm_map(const QList<T>& list, F&& transform)
{
    using Maybe = mm_detail::Maybe<mm_detail::CallbackResult<F, T>>;
    QList<typename Maybe::Value> results;
    bool stop = false;
    for (qsizetype index = 0; index < list.size() && !stop; ++index) {
        auto result = transform(list.at(index), index, stop);
        if (Maybe::present(result))
            results.append(Maybe::take(std::move(result)));
    }
    return results;
}

// The elements for which the callback answered true, in order.
template <typename T, typename F> QList<T> mm_where(const QList<T>& list, F&& predicate)
{
    QList<T> results;
    bool stop = false;
    for (qsizetype index = 0; index < list.size() && !stop; ++index) {
        if (predicate(list.at(index), index, stop))
            results.append(list.at(index));
    }
    return results;
}

// The first present result of the callback (that result, not the element); the walk ends there.
template <typename T, typename F> auto mm_find(const QList<T>& list, F&& search)
{
    using Result = mm_detail::CallbackResult<F, T>;
    using Maybe = mm_detail::Maybe<Result>;
    bool stop = false;
    for (qsizetype index = 0; index < list.size() && !stop; ++index) {
        Result result = search(list.at(index), index, stop);
        if (Maybe::present(result))
            return result;
    }
    return Result(Maybe::none());
}

// The lists returned by the callback, joined in order.
template <typename T, typename F> auto mm_combine(const QList<T>& list, F&& expand)
{
    using Result = mm_detail::CallbackResult<F, T>;
    Result combined;
    bool stop = false;
    for (qsizetype index = 0; index < list.size() && !stop; ++index)
        combined.append(expand(list.at(index), index, stop));
    return combined;
}

// Each element to its index; for equal elements the last index wins.
template <typename T> QHash<T, qsizetype> mm_objectToIndexDictionary(const QList<T>& list)
{
    QHash<T, qsizetype> indexes;
    for (qsizetype index = 0; index < list.size(); ++index)
        indexes.insert(list.at(index), index);
    return indexes;
}

// Each value to its key; nullopt when two keys hold equal values.
template <typename K, typename V>
std::optional<QHash<V, K>> mm_reverseKeysAndObjectsDictionary(const QHash<K, V>& dictionary)
{
    QHash<V, K> reversed;
    for (auto entry = dictionary.cbegin(); entry != dictionary.cend(); ++entry)
        reversed.insert(entry.value(), entry.key());
    if (reversed.size() < dictionary.size())
        return std::nullopt;
    return reversed;
}
