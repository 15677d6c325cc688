// The programs of examples/, bundled into the page as text.
import collatz from '../../examples/collatz.tov' with { type: 'text' };
import fibonacci from '../../examples/fibonacci.tov' with { type: 'text' };
import gcd from '../../examples/gcd.tov' with { type: 'text' };
import leap from '../../examples/leap.tov' with { type: 'text' };
import multable from '../../examples/multable.tov' with { type: 'text' };
import overflow from '../../examples/overflow.tov' with { type: 'text' };
import primes from '../../examples/primes.tov' with { type: 'text' };
import truth from '../../examples/truth.tov' with { type: 'text' };

export const examples = { collatz, fibonacci, gcd, leap, multable, overflow, primes, truth };
