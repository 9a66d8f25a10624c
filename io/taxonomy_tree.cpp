// Trees from taxonomy. Grafting puts a feature the study's tree lacks under
// the most recent common ancestor of the tree's features that share its
// deepest named taxonomy level (genus, then family, ...), at length 0, so
// that the tree penalty groups it with its relatives. A taxonomy tree nests
// the named levels of the lineages. The canonical order sorts children by
// the smallest tip key below them, which makes the written tree independent
// of the order of the input's children.
#include "io/taxonomy_tree.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_set>

#include "io/text.h"

namespace {

// The key of levels 0 to `depth` of a lineage: the levels joined by ";".
std::string prefixKey(const std::vector<std::string> &levels, size_t depth)
{
    std::string key;
    for (size_t i = 0; i <= depth; i++)
        key += levels[i] + ";";
    return key;
}

vessik::Node *addNode(StudyTree &tree, vessik::Node *parent, const std::string &label, double length)
{
    vessik::Node *node = new vessik::Node();
    node->name = tree.tree->nnodes;
    node->longname = label;
    node->dist = static_cast<float>(length);
    tree.tree->nodes.append(node);
    tree.tree->nnodes = tree.tree->nodes.size();
    tree.lengths.push_back(length);
    if (parent != nullptr)
        parent->addChild(node);
    return node;
}

// Every node of the tree under `root` in pre-order, with an explicit stack.
std::vector<vessik::Node *> preOrder(vessik::Node *root)
{
    std::vector<vessik::Node *> order;
    std::vector<vessik::Node *> stack = {root};
    while (!stack.empty()) {
        vessik::Node *node = stack.back();
        stack.pop_back();
        order.push_back(node);
        for (int c = node->nchildren - 1; c >= 0; c--)
            stack.push_back(node->children[c]);
    }
    return order;
}

vessik::Node *commonAncestor(vessik::Node *a, vessik::Node *b,
                             const std::unordered_map<const vessik::Node *, int> &depth)
{
    while (depth.at(a) > depth.at(b))
        a = a->parent;
    while (depth.at(b) > depth.at(a))
        b = b->parent;
    while (a != b) {
        a = a->parent;
        b = b->parent;
    }
    return a;
}

} // namespace

std::vector<std::string> lineageLevels(const std::string &taxonomy)
{
    const char separator = taxonomy.find(';') == std::string::npos &&
                                   taxonomy.find('|') != std::string::npos
                               ? '|'
                               : ';';
    std::vector<std::string> levels;
    size_t start = 0;
    while (start <= taxonomy.size()) {
        const size_t end = std::min(taxonomy.find(separator, start), taxonomy.size());
        levels.push_back(trimSpaces(taxonomy.substr(start, end - start)));
        start = end + 1;
    }
    while (!levels.empty() && levels.back().empty())
        levels.pop_back();
    return levels;
}

bool isNamedLevel(const std::string &level)
{
    const size_t prefix = level.find("__");
    return prefix == std::string::npos ? !level.empty() : prefix + 2 < level.size();
}

std::vector<std::string> graftByTaxonomy(StudyTree &tree, const std::vector<TaxonomyFeature> &onTree,
                                         const std::vector<TaxonomyFeature> &orphans)
{
    // The keys of every named level below the kingdom that an orphan could go under.
    std::unordered_map<std::string, vessik::Node *> ancestor;
    for (const TaxonomyFeature &orphan : orphans) {
        const std::vector<std::string> levels = lineageLevels(orphan.taxonomy);
        for (size_t d = 1; d < levels.size(); d++)
            if (isNamedLevel(levels[d]))
                ancestor.emplace(prefixKey(levels, d), nullptr);
    }
    if (ancestor.empty())
        return {};
    std::unordered_map<std::string, vessik::Node *> tipOf;
    std::unordered_map<const vessik::Node *, int> depth;
    for (vessik::Node *node : preOrder(tree.tree->root)) {
        depth[node] = node->parent == nullptr ? 0 : depth[node->parent] + 1;
        if (node->isLeaf())
            tipOf.emplace(node->longname, node);
    }
    for (const TaxonomyFeature &feature : onTree) {
        const auto tip = tipOf.find(feature.id);
        if (tip == tipOf.end())
            continue;
        const std::vector<std::string> levels = lineageLevels(feature.taxonomy);
        for (size_t d = 1; d < levels.size(); d++) {
            const auto found = ancestor.find(prefixKey(levels, d));
            if (found != ancestor.end())
                found->second = found->second == nullptr
                                    ? tip->second
                                    : commonAncestor(found->second, tip->second, depth);
        }
    }
    std::vector<std::string> placed;
    std::unordered_map<vessik::Node *, vessik::Node *> holder;  // a lone tip's new parent
    for (const TaxonomyFeature &orphan : orphans) {
        const std::vector<std::string> levels = lineageLevels(orphan.taxonomy);
        vessik::Node *at = nullptr;
        for (size_t d = levels.size(); d-- > 1 && at == nullptr;)
            if (isNamedLevel(levels[d]))
                at = ancestor.at(prefixKey(levels, d));
        if (at == nullptr)
            continue;
        if (at->isLeaf() || holder.count(at) != 0) {
            vessik::Node *&parent = holder[at];
            if (parent == nullptr) {
                // The tip's place goes to a new node of its length, holding it at length 0.
                parent = addNode(tree, nullptr, "", tree.lengths[at->name]);
                vessik::Node *above = at->parent;
                if (above == nullptr) {
                    tree.tree->root = parent;
                } else {
                    for (int c = 0; c < above->nchildren; c++)
                        if (above->children[c] == at)
                            above->children[c] = parent;
                    parent->parent = above;
                }
                parent->addChild(at);
                tree.lengths[at->name] = 0.0;
                at->dist = 0.0f;
            }
            at = parent;
        }
        addNode(tree, at, orphan.id, 0.0);
        placed.push_back(orphan.id);
    }
    return placed;
}

StudyTree taxonomyTree(const std::vector<TaxonomyFeature> &features)
{
    StudyTree tree;
    tree.tree.reset(new vessik::Tree());
    tree.tree->root = addNode(tree, nullptr, "", 0.0);
    std::map<std::pair<vessik::Node *, std::string>, vessik::Node *> childNamed;
    for (const TaxonomyFeature &feature : features) {
        vessik::Node *at = tree.tree->root;
        bool named = false;
        for (const std::string &level : lineageLevels(feature.taxonomy)) {
            if (!isNamedLevel(level))
                continue;
            named = true;
            vessik::Node *&child = childNamed[{at, level}];
            if (child == nullptr)
                child = addNode(tree, at, level, 1.0);
            at = child;
        }
        if (named)
            addNode(tree, at, feature.id, 1.0);
    }
    // Merges single-child chains and numbers the nodes as the library expects.
    return pruneTree(tree, [](const vessik::Node *) { return true; });
}

std::vector<const vessik::Node *> orderChildren(
    StudyTree &tree, const std::unordered_map<const vessik::Node *, std::string> &key)
{
    const std::vector<vessik::Node *> order = preOrder(tree.tree->root);
    std::unordered_map<const vessik::Node *, const std::string *> smallest;
    for (auto node = order.rbegin(); node != order.rend(); ++node) {
        const std::string *least = (*node)->isLeaf() ? &key.at(*node) : nullptr;
        for (int c = 0; c < (*node)->nchildren; c++) {
            const std::string *below = smallest.at((*node)->children[c]);
            if (least == nullptr || *below < *least)
                least = below;
        }
        smallest[*node] = least;
        std::sort((*node)->children, (*node)->children + (*node)->nchildren,
                  [&](const vessik::Node *a, const vessik::Node *b) {
                      return *smallest.at(a) < *smallest.at(b);
                  });
    }
    std::vector<const vessik::Node *> tips;
    for (const vessik::Node *node : preOrder(tree.tree->root))
        if (node->isLeaf())
            tips.push_back(node);
    return tips;
}
