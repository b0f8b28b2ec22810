#pragma once

// An allocator that carves the nodes of one container from large blocks.
// A value index holds one tree node per row: one malloc each would cost time
// at open and a header's worth of memory per node.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

class NodePool
{
public:
    void *allocate(size_t size)
    {
        if (nodeSize == 0)
            nodeSize = std::max(size, sizeof(void *));
        if (size != nodeSize)
            return ::operator new(size);
        if (freeList) {
            void *node = freeList;
            freeList = *static_cast<void **>(node);
            return node;
        }
        if (used == blockNodes) {
            // Blocks grow with the index up to a size that wastes little
            // at the end of the last one.
            blockNodes = blocks.empty() ? 16 : std::min<size_t>(blockNodes * 2, 1024);
            blocks.push_back(std::unique_ptr<std::byte[]>(new std::byte[blockNodes * nodeSize]));
            used = 0;
        }
        return blocks.back().get() + nodeSize * used++;
    }

    void deallocate(void *node, size_t size)
    {
        if (size != nodeSize) {
            ::operator delete(node);
            return;
        }
        *static_cast<void **>(node) = freeList;
        freeList = node;
    }

private:
    size_t nodeSize = 0;
    std::vector<std::unique_ptr<std::byte[]>> blocks;
    size_t blockNodes = 0;
    size_t used = 0;
    void *freeList = nullptr;
};

// Single objects come from the pool shared by every copy of the allocator;
// a copied container gets a pool of its own. Not thread-safe: one container
// is used by one thread at a time.
template<typename T>
class PoolAllocator
{
public:
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using is_always_equal = std::false_type;

    PoolAllocator()
        : pool(std::make_shared<NodePool>())
    {
    }
    template<typename U>
    PoolAllocator(const PoolAllocator<U> &other) noexcept
        : pool(other.pool)
    {
    }

    T *allocate(size_t n)
    {
        if (n != 1)
            return static_cast<T *>(::operator new(n * sizeof(T)));
        static_assert(alignof(T) <= alignof(std::max_align_t));
        return static_cast<T *>(pool->allocate(sizeof(T)));
    }
    void deallocate(T *p, size_t n)
    {
        if (n != 1)
            ::operator delete(p);
        else
            pool->deallocate(p, sizeof(T));
    }

    PoolAllocator select_on_container_copy_construction() const { return PoolAllocator(); }

    template<typename U>
    bool operator==(const PoolAllocator<U> &other) const noexcept
    {
        return pool == other.pool;
    }

    std::shared_ptr<NodePool> pool;
};
