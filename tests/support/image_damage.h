#pragma once

#include <cstdint>
#include <string>

#include "support/image.h"

namespace kestra::testing {

// Damage applied to a built image. Each helper changes only what it names
// (FAT32 free counts are kept in step), so a test sees exactly one fault.

// Sets the FAT entry of the index-th cluster of a node's chain (index counts
// from 0). The general tool: 0 frees it, another cluster links there.
void SetChainLink(FatImage& image, NodeId node, uint32_t index, uint32_t value,
                  int copy = kAllCopies);
// The last cluster of the node links to `target` instead of ending: a loop when
// target is in its own chain, a cross-link when in another's, a link into a
// free cluster, or beyond the last cluster.
void LinkTailTo(FatImage& image, NodeId node, uint32_t target);
// Ends the chain after `keep` clusters; the rest stay allocated with no owner.
void TruncateChain(FatImage& image, NodeId node, uint32_t keep);
// Frees one cluster of a folder's chain, leaving the link before it dangling.
void BreakChainAt(FatImage& image, NodeId node, uint32_t index);
// Allocates a chain no entry points at; its clusters are filled from `seed`.
void AddLostChain(FatImage& image, const Runs& runs, uint32_t seed = 0);
void MarkBad(FatImage& image, uint32_t cluster, int copy = kAllCopies);
// Makes FAT copy `copy` differ from copy 0 at one cluster.
void MakeCopiesDiffer(FatImage& image, uint32_t cluster, uint32_t value, int copy = 1);

// Marks every slot of the node's entry set erased (0xE5) and leaves its chain
// allocated, as a crash mid-delete would.
void EraseEntry(FatImage& image, NodeId node);
void SetEntryStartCluster(FatImage& image, NodeId node, uint32_t cluster);
void SetEntrySize(FatImage& image, NodeId node, uint32_t size);
void SetEntryAttributes(FatImage& image, NodeId node, uint8_t attributes);
// Writes a 32-byte slot `skip` slots after the node's entry, in the same folder
// (past its end mark when the node is the folder's last entry and skip > 0).
void PutSlotAfter(FatImage& image, NodeId node, uint32_t skip, const std::string& name11,
                  uint8_t attributes);

}  // namespace kestra::testing
