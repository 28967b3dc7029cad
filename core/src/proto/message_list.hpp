#pragma once
// How a message set is declared: one X-macro list of X(index, name) entries in wire-index order,
// from which its count, its names, its encoders and its decoding variant are made.
//
//   #define OSTREL_CLIENT_MESSAGES(X) X(0, Hello) X(1, AuthResponse) ...
//   0 OSTREL_CLIENT_MESSAGES(OSTREL_PROTO_COUNT)              -> 22
//   OSTREL_PROTO_MESSAGE_AT(ClientList, client, 0, Hello)     -> message 0 of ClientList is
//                                                                client::Hello
//   OSTREL_PROTO_NAMES(kClientNames, OSTREL_CLIENT_MESSAGES);  -> {"Hello", "AuthResponse", ...}

#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <variant>

#define OSTREL_PROTO_COUNT(N, T) +1
#define OSTREL_PROTO_NAME(N, T) #T,
#define OSTREL_PROTO_WRITTEN_INDEX(N, T) N,

// `Names`: the list's names in wire order, each entry's written index checked against its place.
#define OSTREL_PROTO_NAMES(Names, LIST)                                       \
  constexpr std::string_view Names[] = {LIST(OSTREL_PROTO_NAME)};             \
  static_assert(::ostrel_core::proto::detail::in_place({LIST(OSTREL_PROTO_WRITTEN_INDEX)}), \
                "each entry's index is its place in the list")

// Used inside namespace ostrel_core::proto.
#define OSTREL_PROTO_MESSAGE_AT(List, ns, N, T) \
  template <>                                   \
  struct detail::MessageAt<List, (N)> {         \
    using type = ns::T;                         \
  };

namespace ostrel_core::proto {

namespace detail {
template <class List, std::size_t I>
struct MessageAt;  // the message of wire index I in List

constexpr bool in_place(std::initializer_list<std::size_t> indices) {
  std::size_t place = 0;
  for (const std::size_t index : indices) {
    if (index != place++) return false;
  }
  return true;
}

template <class List, std::size_t... I>
auto message_variant(std::index_sequence<I...>) -> std::variant<typename MessageAt<List, I>::type...>;
}  // namespace detail

// The variant whose alternative I is message I of List, for the N messages of the list.
template <class List, std::size_t N>
using MessageVariant = decltype(detail::message_variant<List>(std::make_index_sequence<N>{}));

}  // namespace ostrel_core::proto
