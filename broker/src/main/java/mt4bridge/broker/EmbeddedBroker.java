package mt4bridge.broker;

import java.io.File;
import java.util.ArrayList;
import java.util.List;

import org.apache.activemq.broker.BrokerPlugin;
import org.apache.activemq.broker.BrokerService;
import org.apache.activemq.broker.region.policy.IndividualDeadLetterStrategy;
import org.apache.activemq.broker.region.policy.PolicyEntry;
import org.apache.activemq.broker.region.policy.PolicyMap;
import org.apache.activemq.security.AuthenticationUser;
import org.apache.activemq.security.SimpleAuthenticationPlugin;
import org.apache.activemq.store.kahadb.KahaDBPersistenceAdapter;

/**
 * The test and benchmark broker: ActiveMQ Classic started in-process with an
 * AMQP 1.0 and an OpenWire connector on the loopback interface, a persistent
 * KahaDB store in the folder the caller names, no JMX and no web console.
 *
 * Arguments: data-dir amqp-port openwire-port [user password]. With a user
 * and password every client must authenticate (SASL PLAIN on AMQP).
 * Runs until the process is terminated; the shutdown hook stops the broker
 * cleanly so the store is consistent for the next start.
 */
public final class EmbeddedBroker {
    private EmbeddedBroker() {}

    public static void main(String[] args) throws Exception {
        if (args.length != 3 && args.length != 5) {
            System.err.println("usage: EmbeddedBroker data-dir amqp-port openwire-port [user password]");
            System.exit(2);
        }
        File dataDir = new File(args[0]).getAbsoluteFile();
        int amqpPort = Integer.parseInt(args[1]);
        int openwirePort = Integer.parseInt(args[2]);

        BrokerService broker = new BrokerService();
        broker.setBrokerName("mt4bridge");
        broker.setDataDirectoryFile(dataDir);
        broker.setPersistent(true);
        broker.setUseJmx(false);
        broker.setSchedulerSupport(false);
        broker.setUseShutdownHook(true);

        KahaDBPersistenceAdapter store = new KahaDBPersistenceAdapter();
        store.setDirectory(new File(dataDir, "kahadb"));
        broker.setPersistenceAdapter(store);

        // Small limits: the broker runs beside the tests in a small heap.
        broker.getSystemUsage().getMemoryUsage().setLimit(64L * 1024 * 1024);
        broker.getSystemUsage().getStoreUsage().setLimit(1024L * 1024 * 1024);
        broker.getSystemUsage().getTempUsage().setLimit(256L * 1024 * 1024);

        // AMQP messages are mapped to JMS ones (an AMQP string body is a
        // TextMessage for OpenWire clients); see the amqp connector below.
        // A message that fails delivery repeatedly goes to its own
        // DLQ.<queue> instead of circling for ever.
        PolicyEntry queues = new PolicyEntry();
        queues.setQueue(">");
        IndividualDeadLetterStrategy dlq = new IndividualDeadLetterStrategy();
        dlq.setQueuePrefix("DLQ.");
        dlq.setUseQueueForQueueMessages(true);
        queues.setDeadLetterStrategy(dlq);
        PolicyMap policies = new PolicyMap();
        policies.setDefaultEntry(queues);
        broker.setDestinationPolicy(policies);

        if (args.length == 5) {
            List<AuthenticationUser> users = new ArrayList<>();
            users.add(new AuthenticationUser(args[3], args[4], "users"));
            SimpleAuthenticationPlugin auth = new SimpleAuthenticationPlugin(users);
            auth.setAnonymousAccessAllowed(false);
            broker.setPlugins(new BrokerPlugin[] {auth});
        }

        broker.addConnector("amqp://127.0.0.1:" + amqpPort
                + "?maximumConnections=1000&transport.transformer=jms&transport.tcpNoDelay=true");
        broker.addConnector("tcp://127.0.0.1:" + openwirePort + "?transport.tcpNoDelay=true");

        broker.start();
        broker.waitUntilStarted();
        System.out.println("broker started amqp=" + amqpPort + " openwire=" + openwirePort);
        System.out.flush();
        broker.waitUntilStopped();
    }
}
