#pragma once
// Test double: a registry held in memory, with the same name rules, value
// typing and deleted-key behaviour as the real store. SetUnavailable() makes
// every operation fail as a store that cannot be opened does.

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace ovra {

class InMemoryRegistry final : public Registry {
public:
    InMemoryRegistry() {
        roots_[0] = std::make_shared<Node>();
        roots_[1] = std::make_shared<Node>();
    }

    void SetUnavailable(bool unavailable) {
        std::lock_guard lock(state_->mutex);
        state_->unavailable = unavailable;
    }

    RegistryStatus CreateKey(RegistryRoot root, std::string_view path,
                             std::unique_ptr<RegistryKey>* key) override {
        std::vector<std::string_view> names;
        if (!SplitRegistryPath(path, &names)) return RegistryStatus::InvalidName;
        std::lock_guard lock(state_->mutex);
        if (state_->unavailable) return RegistryStatus::Unavailable;
        std::shared_ptr<Node> node = RootNode(root);
        for (const auto name : names) {
            auto& child = node->children[FoldRegistryName(name)];
            if (!child) {
                child = std::make_shared<Node>();
                child->name = std::string(name);
            }
            node = child;
        }
        *key = std::make_unique<Key>(state_, node, RegistryAccess::ReadWrite);
        return RegistryStatus::Ok;
    }

    RegistryStatus OpenKey(RegistryRoot root, std::string_view path, RegistryAccess access,
                           std::unique_ptr<RegistryKey>* key) override {
        std::vector<std::string_view> names;
        if (!SplitRegistryPath(path, &names)) return RegistryStatus::InvalidName;
        std::lock_guard lock(state_->mutex);
        if (state_->unavailable) return RegistryStatus::Unavailable;
        std::shared_ptr<Node> node = Find(root, names);
        if (!node) return RegistryStatus::NotFound;
        *key = std::make_unique<Key>(state_, node, access);
        return RegistryStatus::Ok;
    }

    RegistryStatus DeleteKey(RegistryRoot root, std::string_view path) override {
        std::vector<std::string_view> names;
        if (!SplitRegistryPath(path, &names)) return RegistryStatus::InvalidName;
        if (names.empty()) return RegistryStatus::AccessDenied;
        std::lock_guard lock(state_->mutex);
        if (state_->unavailable) return RegistryStatus::Unavailable;
        const std::string_view last = names.back();
        names.pop_back();
        std::shared_ptr<Node> parent = Find(root, names);
        if (!parent) return RegistryStatus::NotFound;
        const auto it = parent->children.find(FoldRegistryName(last));
        if (it == parent->children.end()) return RegistryStatus::NotFound;
        MarkDeleted(*it->second);
        parent->children.erase(it);
        return RegistryStatus::Ok;
    }

private:
    struct Node {
        std::string name;
        bool deleted = false;
        std::map<std::string, std::shared_ptr<Node>> children;  // by folded name
        std::map<std::string, NamedRegistryValue> values;       // by folded name
    };
    struct State {
        std::mutex mutex;
        bool unavailable = false;
    };

    class Key final : public RegistryKey {
    public:
        Key(std::shared_ptr<State> state, std::shared_ptr<Node> node, RegistryAccess access)
            : state_(std::move(state)), node_(std::move(node)), access_(access) {}

        RegistryStatus SetValues(std::span<const NamedRegistryValue> values) override {
            for (const auto& v : values) {
                if (!IsValidRegistryValueName(v.name)) return RegistryStatus::InvalidName;
                if (v.value.data.size() > kMaxRegistryValueSize) return RegistryStatus::TooLarge;
            }
            std::lock_guard lock(state_->mutex);
            if (const auto status = Usable(true); status != RegistryStatus::Ok) return status;
            for (const auto& v : values) {
                // An existing value keeps the spelling of its name.
                auto [it, added] = node_->values.try_emplace(FoldRegistryName(v.name), v);
                if (!added) it->second.value = v.value;
            }
            return RegistryStatus::Ok;
        }

        RegistryStatus QueryValues(std::span<const std::string_view> names, std::size_t maxSize,
                                   std::vector<RegistryRead>* reads) override {
            reads->assign(names.size(), RegistryRead{});
            std::lock_guard lock(state_->mutex);
            if (const auto status = Usable(false); status != RegistryStatus::Ok) return status;
            for (std::size_t i = 0; i < names.size(); ++i) {
                const auto it = node_->values.find(FoldRegistryName(names[i]));
                if (it == node_->values.end()) continue;
                auto& read = (*reads)[i];
                read.size = it->second.value.data.size();
                read.value.type = it->second.value.type;
                if (read.size > maxSize) {
                    read.status = RegistryStatus::MoreData;
                } else {
                    read.status = RegistryStatus::Ok;
                    read.value.data = it->second.value.data;
                }
            }
            return RegistryStatus::Ok;
        }

        RegistryStatus DeleteValue(std::string_view name) override {
            std::lock_guard lock(state_->mutex);
            if (const auto status = Usable(true); status != RegistryStatus::Ok) return status;
            return node_->values.erase(FoldRegistryName(name)) ? RegistryStatus::Ok
                                                                : RegistryStatus::NotFound;
        }

        RegistryStatus EnumSubKeys(std::vector<std::string>* names) override {
            names->clear();
            std::lock_guard lock(state_->mutex);
            if (const auto status = Usable(false); status != RegistryStatus::Ok) return status;
            for (const auto& [folded, child] : node_->children) names->push_back(child->name);
            return RegistryStatus::Ok;
        }

        RegistryStatus EnumValues(std::vector<NamedRegistryValue>* values) override {
            values->clear();
            std::lock_guard lock(state_->mutex);
            if (const auto status = Usable(false); status != RegistryStatus::Ok) return status;
            for (const auto& [folded, value] : node_->values) values->push_back(value);
            return RegistryStatus::Ok;
        }

    private:
        RegistryStatus Usable(bool writing) const {
            if (state_->unavailable) return RegistryStatus::Unavailable;
            if (node_->deleted) return RegistryStatus::NotFound;
            if (writing && access_ != RegistryAccess::ReadWrite) return RegistryStatus::AccessDenied;
            return RegistryStatus::Ok;
        }

        std::shared_ptr<State> state_;
        std::shared_ptr<Node> node_;
        RegistryAccess access_;
    };

    std::shared_ptr<Node> RootNode(RegistryRoot root) const {
        return roots_[root == RegistryRoot::LocalMachine ? 0 : 1];
    }

    std::shared_ptr<Node> Find(RegistryRoot root, const std::vector<std::string_view>& names) const {
        std::shared_ptr<Node> node = RootNode(root);
        for (const auto name : names) {
            const auto it = node->children.find(FoldRegistryName(name));
            if (it == node->children.end()) return nullptr;
            node = it->second;
        }
        return node;
    }

    static void MarkDeleted(Node& node) {
        node.deleted = true;
        for (auto& [folded, child] : node.children) MarkDeleted(*child);
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::shared_ptr<Node> roots_[2];
};

}  // namespace ovra
