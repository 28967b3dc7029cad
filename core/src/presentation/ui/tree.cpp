#include "presentation/ui/tree.hpp"

#include <deque>

namespace ostrel_core::ui::tree {

Tree Build::flatten() && {
  Tree tree;
  std::deque<Build*> queue;
  tree.nodes.push_back(node);
  queue.push_back(this);
  for (std::size_t i = 0; !queue.empty(); ++i) {
    Build* b = queue.front();
    queue.pop_front();
    tree.nodes[i].first_child = static_cast<std::uint32_t>(tree.nodes.size());
    tree.nodes[i].child_count = static_cast<std::uint32_t>(b->children.size());
    for (Build& child : b->children) {
      tree.nodes.push_back(std::move(child.node));
      queue.push_back(&child);
    }
  }
  return tree;
}

}  // namespace ostrel_core::ui::tree
