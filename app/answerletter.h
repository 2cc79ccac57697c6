// The answer letter: a base answers a test frame with a copy in which the
// byte at ANSWER_LETTER_POS is a letter 'A' to 'J' counting the answers it
// has sent to that remote (modulo ANSWER_LETTERS). A frame no longer than
// ANSWER_LETTER_POS comes back unchanged. Shared by the program's base and
// the simulator's built-in peers; no dependencies.
#pragma once

constexpr int ANSWER_LETTER_POS = 10;
constexpr int ANSWER_LETTERS = 10;

// The letter of the answer numbered uAnswer (counted from 0).
constexpr char AnswerLetter(unsigned uAnswer) {
  return char('A' + uAnswer % unsigned(ANSWER_LETTERS));
}

// The number (0 to ANSWER_LETTERS - 1) of the letter c, or -1 when c is none.
constexpr int AnswerLetterIndex(int c) {
  return c >= 'A' && c < 'A' + ANSWER_LETTERS ? c - 'A' : -1;
}
