// The programs of examples/, bundled into the page as text.
import chains from '../../examples/chains.tov' with { type: 'text' };
import collatz from '../../examples/collatz.tov' with { type: 'text' };
import countdown from '../../examples/countdown.tov' with { type: 'text' };
import fibonacci from '../../examples/fibonacci.tov' with { type: 'text' };
import gcd from '../../examples/gcd.tov' with { type: 'text' };
import guard from '../../examples/guard.tov' with { type: 'text' };
import leap from '../../examples/leap.tov' with { type: 'text' };
import multable from '../../examples/multable.tov' with { type: 'text' };
import overflow from '../../examples/overflow.tov' with { type: 'text' };
import primes from '../../examples/primes.tov' with { type: 'text' };
import sign from '../../examples/sign.tov' with { type: 'text' };
import truth from '../../examples/truth.tov' with { type: 'text' };

// The guide's small programs first, in the order a lesson meets them.
export const examples = {
  countdown, sign, guard, chains, gcd, collatz, fibonacci, leap, multable, overflow, primes, truth,
};
