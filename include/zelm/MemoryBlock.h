// Memory blocks: reference-counted, resizable byte buffers.
#pragma once

#include <zelm/Export.h>

#include <zelm/Object.h>
#include <zelm/Serializable.h>

#include <cstdint>

namespace zelm {

// A byte buffer with a capacity and a size (the bytes in use). A block is
// used by one thread at a time. Sizes, counts and offsets outside the block
// throw CInvalidArgError.
class ZELM_API IMemoryBlock : public virtual IBase, public virtual ISerializable {
public:
    // Gives the block a buffer of exactly capacity bytes.
    virtual void reallocate(int capacity) = 0;
    // Reallocates when the capacity is below bytes.
    virtual void ensureCapacity(int bytes) = 0;
    virtual int getCapacity() const = 0;
    // Bytes added are not initialised.
    virtual void setSize(int bytes) = 0;
    virtual int getSize() const = 0;
    // Sets every byte of the size to value.
    virtual void fill(std::uint8_t value) = 0;
    virtual const std::uint8_t* getConstData() const = 0;
    virtual std::uint8_t* getData() = 0;
    // Contents := the count bytes.
    virtual void assign(const std::uint8_t* bytes, int count) = 0;
    // The size difference when the sizes differ, else -1, 0 or 1 by
    // unsigned byte-wise comparison.
    virtual int compare(const IMemoryBlock& other) const = 0;
    // Whether this block begins with the bytes of other.
    virtual bool startsWith(const IMemoryBlock& other) const = 0;
    // Removes count bytes at offset, moving the rest down.
    virtual void remove(int offset, int count) = 0;
    virtual void append(const IMemoryBlock& other) = 0;
    virtual void append(const std::uint8_t* bytes, int count) = 0;
    // Makes sure the block owns its buffer.
    virtual void makeWritable() = 0;
};

// The operations common to every block class; reallocation, assignment and
// ownership belong to the concrete classes. A block serialises as its size
// (a 32-bit integer) followed by its bytes.
class ZELM_API CMemoryBlockBase : public CObject, public virtual IMemoryBlock {
public:
    void ensureCapacity(int bytes) override;
    int getCapacity() const override { return m_capacity; }
    void setSize(int bytes) override;
    int getSize() const override { return m_size; }
    void fill(std::uint8_t value) override;
    const std::uint8_t* getConstData() const override { return m_buffer; }
    std::uint8_t* getData() override { return m_buffer; }
    int compare(const IMemoryBlock& other) const override;
    bool startsWith(const IMemoryBlock& other) const override;
    void remove(int offset, int count) override;
    void append(const IMemoryBlock& other) override;
    void append(const std::uint8_t* bytes, int count) override;

    void serialize(ISerialStream& stream) const override;
    bool deserialize(ISerialStream& stream) override;

protected:
    CMemoryBlockBase() = default;
    CMemoryBlockBase(const CMemoryBlockBase&) = delete;
    CMemoryBlockBase& operator=(const CMemoryBlockBase&) = delete;

    // Throws CInvalidArgError naming method when value is negative.
    static void requireNonNegative(int value, const char* what, const char* method);

    std::uint8_t* m_buffer = nullptr;
    std::int32_t m_capacity = 0;
    std::int32_t m_size = 0;
};

// A block on the heap, or over a borrowed buffer that a keeper object keeps
// alive until the block reallocates or makes itself writable.
class ZELM_API CMemoryBlock : public CMemoryBlockBase {
public:
    // size bytes, copied from source when one is given, else not initialised.
    explicit CMemoryBlock(int size = 0, const std::uint8_t* source = nullptr);
    // Borrows size bytes at buffer, holding keeper while it does.
    CMemoryBlock(std::uint8_t* buffer, int size, P<IBase> keeper);
    ~CMemoryBlock() override;

    void reallocate(int capacity) override;
    void assign(const std::uint8_t* bytes, int count) override;
    void makeWritable() override;

    bool ownsBuffer() const { return m_owns; }

private:
    P<IBase> m_keeper;
    bool m_owns = true;
};

} // namespace zelm
