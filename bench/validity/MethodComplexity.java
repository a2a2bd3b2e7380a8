// Cyclomatic complexity of every method, constructor and initializer block of
// the Java files named on stdin (one path a line), with the JDK's own parser.
// Prints one tab-separated row per method: path, first line, last line,
// complexity, name, the line where its body opens. Complexity is 1 + if,
// for, for-each, while, do, each case label other than default, catch, ?:
// and each && or ||. A lambda counts into the method around it; a class
// declared inside a method (anonymous or local) has methods of its own and
// counts nowhere else.

import com.sun.source.tree.BinaryTree;
import com.sun.source.tree.BlockTree;
import com.sun.source.tree.CaseTree;
import com.sun.source.tree.CatchTree;
import com.sun.source.tree.ClassTree;
import com.sun.source.tree.CompilationUnitTree;
import com.sun.source.tree.ConditionalExpressionTree;
import com.sun.source.tree.DoWhileLoopTree;
import com.sun.source.tree.EnhancedForLoopTree;
import com.sun.source.tree.ForLoopTree;
import com.sun.source.tree.IfTree;
import com.sun.source.tree.MethodTree;
import com.sun.source.tree.Tree;
import com.sun.source.tree.WhileLoopTree;
import com.sun.source.util.JavacTask;
import com.sun.source.util.SourcePositions;
import com.sun.source.util.TreeScanner;
import com.sun.source.util.Trees;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.io.PrintWriter;
import java.nio.charset.StandardCharsets;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.List;

import javax.tools.JavaCompiler;
import javax.tools.JavaFileObject;
import javax.tools.StandardJavaFileManager;
import javax.tools.ToolProvider;

public final class MethodComplexity {
    private static final class Counter extends TreeScanner<Void, Void> {
        private final CompilationUnitTree unit;
        private final SourcePositions positions;
        private final PrintWriter out;
        private final Deque<int[]> counts = new ArrayDeque<>();

        Counter(CompilationUnitTree unit, SourcePositions positions, PrintWriter out) {
            this.unit = unit;
            this.positions = positions;
            this.out = out;
        }

        private void add() {
            if (!counts.isEmpty()) {
                counts.peek()[0]++;
            }
        }

        private void measure(Tree extent, Tree body, String name, Runnable count) {
            counts.push(new int[] {1});
            count.run();
            int complexity = counts.pop()[0];
            long start = positions.getStartPosition(unit, extent);
            long end = positions.getEndPosition(unit, extent);
            if (start < 0 || end < 0) {
                return;
            }
            long first = unit.getLineMap().getLineNumber(start);
            long last = unit.getLineMap().getLineNumber(Math.max(start, end - 1));
            long open = unit.getLineMap().getLineNumber(Math.max(start, positions.getStartPosition(unit, body)));
            out.println(unit.getSourceFile().getName() + "\t" + first + "\t" + last + "\t" + complexity + "\t" + name + "\t" + open);
        }

        @Override
        public Void visitClass(ClassTree node, Void unused) {
            // Methods of a nested class are measured on their own.
            Deque<int[]> saved = new ArrayDeque<>(counts);
            counts.clear();
            super.visitClass(node, null);
            counts.addAll(saved);
            return null;
        }

        @Override
        public Void visitMethod(MethodTree node, Void unused) {
            if (node.getBody() == null) {
                return null;
            }
            measure(node, node.getBody(), node.getName().toString(), () -> scan(node.getBody(), null));
            return null;
        }

        @Override
        public Void visitBlock(BlockTree node, Void unused) {
            if (counts.isEmpty()) {
                // An initializer block directly in a class body.
                measure(node, node, node.isStatic() ? "<clinit>" : "<init-block>", () -> super.visitBlock(node, null));
                return null;
            }
            return super.visitBlock(node, null);
        }

        @Override
        public Void visitIf(IfTree node, Void unused) {
            add();
            return super.visitIf(node, null);
        }

        @Override
        public Void visitForLoop(ForLoopTree node, Void unused) {
            add();
            return super.visitForLoop(node, null);
        }

        @Override
        public Void visitEnhancedForLoop(EnhancedForLoopTree node, Void unused) {
            add();
            return super.visitEnhancedForLoop(node, null);
        }

        @Override
        public Void visitWhileLoop(WhileLoopTree node, Void unused) {
            add();
            return super.visitWhileLoop(node, null);
        }

        @Override
        public Void visitDoWhileLoop(DoWhileLoopTree node, Void unused) {
            add();
            return super.visitDoWhileLoop(node, null);
        }

        @Override
        public Void visitCase(CaseTree node, Void unused) {
            if (!node.getExpressions().isEmpty()) {
                add();
            }
            return super.visitCase(node, null);
        }

        @Override
        public Void visitCatch(CatchTree node, Void unused) {
            add();
            return super.visitCatch(node, null);
        }

        @Override
        public Void visitConditionalExpression(ConditionalExpressionTree node, Void unused) {
            add();
            return super.visitConditionalExpression(node, null);
        }

        @Override
        public Void visitBinary(BinaryTree node, Void unused) {
            if (node.getKind() == Tree.Kind.CONDITIONAL_AND || node.getKind() == Tree.Kind.CONDITIONAL_OR) {
                add();
            }
            return super.visitBinary(node, null);
        }
    }

    public static void main(String[] args) throws Exception {
        List<File> files = new ArrayList<>();
        try (BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8))) {
            for (String line; (line = in.readLine()) != null;) {
                if (!line.isEmpty()) {
                    files.add(new File(line));
                }
            }
        }
        JavaCompiler compiler = ToolProvider.getSystemJavaCompiler();
        PrintWriter out = new PrintWriter(System.out, false, StandardCharsets.UTF_8);
        // Parse in batches so that a large tree does not hold every syntax tree at once.
        for (int from = 0; from < files.size(); from += 200) {
            try (StandardJavaFileManager manager = compiler.getStandardFileManager(null, null, StandardCharsets.UTF_8)) {
                Iterable<? extends JavaFileObject> sources =
                        manager.getJavaFileObjectsFromFiles(files.subList(from, Math.min(files.size(), from + 200)));
                // Parse only: no class path, so diagnostics of missing symbols never come up.
                JavacTask task = (JavacTask) compiler.getTask(null, manager, diagnostic -> { }, List.of("-proc:none"), null, sources);
                SourcePositions positions = Trees.instance(task).getSourcePositions();
                for (CompilationUnitTree unit : task.parse()) {
                    new Counter(unit, positions, out).scan(unit, null);
                }
            }
        }
        out.flush();
    }
}
