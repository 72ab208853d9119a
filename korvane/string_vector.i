/* StringVector (std::vector< std::string >) and its iterator SwigPyIterator.
 *
 * SWIG's standard vector library generates both. Its iterator classes are
 * replaced by this project's own (the fragment SwigPyIterator_T below, which
 * keeps a position as an offset into its vector), defined before the library
 * is included: SWIG keeps the first definition of a fragment. The iterator
 * base class and the slice arithmetic are SWIG's own, patched at configure
 * time (swig-patches/pyiterators.swg.patch, pycontainer.swg.patch).
 * What a module user sees:
 *   - an iterator's copy (copy, __add__, __sub__) is of the same kind as the
 *     original, so a copy of a bidirectional iterator steps back too;
 *   - comparing or subtracting a forward and a reverse iterator, or iterators
 *     of two vectors, never aborts the process;
 *   - dereferencing an unbounded iterator outside its vector raises
 *     StopIteration instead of reading foreign memory;
 *   - moving an iterator by any count, the most negative included, is
 *     defined, and it + n past the end leaks nothing (patched base class);
 *   - a slice that starts at or beyond the length selects nothing (patched
 *     slice arithmetic; SWIG 4.1 returned the whole vector).
 * Further checks (string_vector_checks.i): slice bounds that are not
 * integers or None, element access on an empty vector, counts above the
 * maximum length and iterator positions of another vector raise exceptions
 * instead of crashing.
 */

%include <std_string.i>

%fragment("SwigPyIterator_T", "header", fragment="<stddef.h>", fragment="SwigPyIterator",
          fragment="StdTraits", fragment="StdIteratorTraits") {
%#include <limits>
namespace swig {
  /* An iterator over the range [first, first + count) of one container. The
   * position is kept as an offset from first, so that stepping outside the
   * range never forms an invalid C++ iterator; get_current() clamps it into
   * the range, and its users check position_in() first. An unbounded
   * iterator learns its range from the container function that made it
   * (set_range); until then its range is empty. */
  template<typename OutIterator>
  class SwigPyIterator_T : public SwigPyIterator
  {
  public:
    typedef OutIterator out_iterator;
    typedef typename std::iterator_traits<out_iterator>::value_type value_type;
    typedef SwigPyIterator_T<out_iterator> self_type;

    SwigPyIterator_T(out_iterator curr, PyObject *seq)
      : SwigPyIterator(seq), first(curr), count(0), offset(0)
    {
    }

    SwigPyIterator_T(out_iterator curr, out_iterator begin, out_iterator end, PyObject *seq)
      : SwigPyIterator(seq), first(begin), count(std::distance(begin, end)),
        offset(std::distance(begin, curr))
    {
    }

    // Places an iterator made from a bare position into its container's range;
    // the position must lie within [begin, end].
    void set_range(out_iterator begin, out_iterator end)
    {
      offset = std::distance(begin, get_current());
      first = begin;
      count = std::distance(begin, end);
    }

    out_iterator get_current() const
    {
      out_iterator pos = first;
      std::advance(pos, offset < 0 ? 0 : (offset > count ? count : offset));
      return pos;
    }

    // True when this iterator walks exactly [begin, end) and stands inside it
    // (at end only when allow_end).
    bool position_in(out_iterator begin, out_iterator end, bool allow_end) const
    {
      if (first != begin || count != std::distance(begin, end))
        return false;
      return offset >= 0 && (offset < count || (allow_end && offset == count));
    }

    bool equal (const SwigPyIterator &iter) const
    {
      const self_type &other = same_kind(iter);
      return first == other.first && offset == other.offset;
    }

    ptrdiff_t distance(const SwigPyIterator &iter) const
    {
      const self_type &other = same_kind(iter);
      if (first != other.first)
        throw std::invalid_argument("iterators of different containers");
      return other.offset - offset;
    }

  protected:
    static const self_type &same_kind(const SwigPyIterator &iter)
    {
      const self_type *other = dynamic_cast<const self_type *>(&iter);
      if (!other)
        throw std::invalid_argument("bad iterator type");
      return *other;
    }

    bool dereferenceable() const
    {
      return offset >= 0 && offset < count;
    }

    PyObject *current_value() const
    {
      return swig::from(static_cast<const value_type&>(*get_current()));
    }

    // Moves without bound checks, saturating instead of overflowing.
    void shift(size_t n, bool forward)
    {
      const ptrdiff_t largest = std::numeric_limits<ptrdiff_t>::max();
      const ptrdiff_t step = n > static_cast<size_t>(largest) ? largest : static_cast<ptrdiff_t>(n);
      ptrdiff_t moved;
      if (forward ? __builtin_add_overflow(offset, step, &moved) : __builtin_sub_overflow(offset, step, &moved))
        moved = forward ? largest : std::numeric_limits<ptrdiff_t>::min();
      offset = moved;
    }

    out_iterator first;
    ptrdiff_t count;
    ptrdiff_t offset;
  };

  template <class ValueType>
  struct from_oper
  {
    typedef const ValueType& argument_type;
    typedef PyObject *result_type;
    result_type operator()(argument_type v) const
    {
      return swig::from(v);
    }
  };

  // Unbounded forward iterator (begin, end, erase, insert): steps freely,
  // refuses to read outside its range.
  template<typename OutIterator,
           typename ValueType = typename std::iterator_traits<OutIterator>::value_type,
           typename FromOper = from_oper<ValueType> >
  class SwigPyForwardIteratorOpen_T : public SwigPyIterator_T<OutIterator>
  {
  public:
    typedef SwigPyIterator_T<OutIterator> base;
    typedef SwigPyForwardIteratorOpen_T<OutIterator, ValueType, FromOper> self_type;

    SwigPyForwardIteratorOpen_T(OutIterator curr, PyObject *seq)
      : base(curr, seq)
    {
    }

    PyObject *value() const
    {
      if (!base::dereferenceable())
        throw stop_iteration();
      return base::current_value();
    }

    SwigPyIterator *copy() const
    {
      return new self_type(*this);
    }

    SwigPyIterator *incr(size_t n = 1)
    {
      base::shift(n, true);
      return this;
    }
  };

  // Unbounded bidirectional iterator (also the reverse iterators).
  template<typename OutIterator,
           typename ValueType = typename std::iterator_traits<OutIterator>::value_type,
           typename FromOper = from_oper<ValueType> >
  class SwigPyIteratorOpen_T : public SwigPyForwardIteratorOpen_T<OutIterator, ValueType, FromOper>
  {
  public:
    typedef SwigPyIterator_T<OutIterator> base;
    typedef SwigPyIteratorOpen_T<OutIterator, ValueType, FromOper> self_type;

    SwigPyIteratorOpen_T(OutIterator curr, PyObject *seq)
      : SwigPyForwardIteratorOpen_T<OutIterator, ValueType, FromOper>(curr, seq)
    {
    }

    SwigPyIterator *copy() const
    {
      return new self_type(*this);
    }

    SwigPyIterator *decr(size_t n = 1)
    {
      base::shift(n, false);
      return this;
    }
  };

  // Bounded forward iterator: keeps its container's Python object alive and
  // ends the iteration at the end of the range.
  template<typename OutIterator,
           typename ValueType = typename std::iterator_traits<OutIterator>::value_type,
           typename FromOper = from_oper<ValueType> >
  class SwigPyForwardIteratorClosed_T : public SwigPyIterator_T<OutIterator>
  {
  public:
    typedef SwigPyIterator_T<OutIterator> base;
    typedef SwigPyForwardIteratorClosed_T<OutIterator, ValueType, FromOper> self_type;

    SwigPyForwardIteratorClosed_T(OutIterator curr, OutIterator first, OutIterator last, PyObject *seq)
      : base(curr, first, last, seq)
    {
    }

    PyObject *value() const
    {
      if (!base::dereferenceable())
        throw stop_iteration();
      return base::current_value();
    }

    SwigPyIterator *copy() const
    {
      return new self_type(*this);
    }

    SwigPyIterator *incr(size_t n = 1)
    {
      while (n--) {
        if (base::offset >= base::count)
          throw stop_iteration();
        ++base::offset;
      }
      return this;
    }
  };

  // Bounded bidirectional iterator (StringVector_iterator).
  template<typename OutIterator,
           typename ValueType = typename std::iterator_traits<OutIterator>::value_type,
           typename FromOper = from_oper<ValueType> >
  class SwigPyIteratorClosed_T : public SwigPyForwardIteratorClosed_T<OutIterator, ValueType, FromOper>
  {
  public:
    typedef SwigPyIterator_T<OutIterator> base;
    typedef SwigPyIteratorClosed_T<OutIterator, ValueType, FromOper> self_type;

    SwigPyIteratorClosed_T(OutIterator curr, OutIterator first, OutIterator last, PyObject *seq)
      : SwigPyForwardIteratorClosed_T<OutIterator, ValueType, FromOper>(curr, first, last, seq)
    {
    }

    SwigPyIterator *copy() const
    {
      return new self_type(*this);
    }

    SwigPyIterator *decr(size_t n = 1)
    {
      while (n--) {
        if (base::offset <= 0)
          throw stop_iteration();
        --base::offset;
      }
      return this;
    }
  };

  template<typename OutIter>
  inline SwigPyIterator*
  make_output_forward_iterator(const OutIter& current, const OutIter& begin,const OutIter& end, PyObject *seq = 0)
  {
    return new SwigPyForwardIteratorClosed_T<OutIter>(current, begin, end, seq);
  }

  template<typename OutIter>
  inline SwigPyIterator*
  make_output_iterator(const OutIter& current, const OutIter& begin,const OutIter& end, PyObject *seq = 0)
  {
    return new SwigPyIteratorClosed_T<OutIter>(current, begin, end, seq);
  }

  template<typename OutIter>
  inline SwigPyIterator*
  make_output_forward_iterator(const OutIter& current, PyObject *seq = 0)
  {
    return new SwigPyForwardIteratorOpen_T<OutIter>(current, seq);
  }

  template<typename OutIter>
  inline SwigPyIterator*
  make_output_iterator(const OutIter& current, PyObject *seq = 0)
  {
    return new SwigPyIteratorOpen_T<OutIter>(current, seq);
  }
}
}

%include "string_vector_checks.i"

%include <std_vector.i>

%template(StringVector) std::vector<std::string>;
